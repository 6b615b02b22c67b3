# Prints the size of the launcher image against its budget.
# Usage: cmake -DIMAGE=path -DBUDGET=bytes -P launcher_image_size.cmake
cmake_minimum_required(VERSION 3.25)
file(SIZE "${IMAGE}" size)
math(EXPR spare "${BUDGET} - ${size}")
message(STATUS "launcher image: ${size} bytes (budget ${BUDGET}, ${spare} to spare)")
