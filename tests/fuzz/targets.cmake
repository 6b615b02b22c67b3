# Every libFuzzer target: its source NAME.cpp, its seeds (a folder under
# seeds/), what it links, and options for libFuzzer.  Inputs that once
# crashed it live in regressions/NAME.  One line here gives the target, its
# regression and smoke tests, and a place in tools/fuzz.sh.
halvex_fuzz_target(launcher_layout SEEDS archives LIBRARIES halvex_extract_portable)
halvex_fuzz_target(szdd_expand SEEDS szdd LIBRARIES szdd)
halvex_fuzz_target(szdd_roundtrip SEEDS plain LIBRARIES szdd OPTIONS -max_len=8192)
halvex_fuzz_target(packer_archive SEEDS archives
                   LIBRARIES halvex-packlib halvex_extract_portable halvex-json)
halvex_fuzz_target(command_line SEEDS command_lines LIBRARIES halvex_launcher_portable)
halvex_fuzz_target(packer_identity SEEDS identity
                   LIBRARIES halvex-packlib halvex_extract_portable halvex-json)
