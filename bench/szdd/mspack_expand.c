/* szdd-mspack-expand IN OUT: libmspack's SZDD decompressor, file to file,
   for the side-by-side benchmark. */
#include <mspack.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: szdd-mspack-expand IN OUT\n");
    return 2;
  }
  struct msszdd_decompressor* d = mspack_create_szdd_decompressor(NULL);
  if (!d) return 1;
  struct msszddd_header* h = d->open(d, argv[1]);
  if (!h) {
    fprintf(stderr, "szdd-mspack-expand: %s: cannot open (error %d)\n", argv[1], d->last_error(d));
    return 1;
  }
  int err = d->extract(d, h, argv[2]);
  d->close(d, h);
  mspack_destroy_szdd_decompressor(d);
  return err == MSPACK_ERR_OK ? 0 : 1;
}
