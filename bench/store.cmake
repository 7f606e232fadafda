# The mail store: listing, copy+delete, arrival to notification.
if(TARGET brevalo_store)
  brevalo_bench(bench_store SOURCES StoreBench.cpp LIBS brevalo_store)
endif()
