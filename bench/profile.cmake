brevalo_bench(bench_profile
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProfileBench.cpp
  LIBS brevalo_platform)
