# The mail store: listing, copy+delete, copy into and deletion from a large folder,
# opening by id, arrival to notification.
brevalo_bench(bench_store SOURCES StoreBench.cpp LIBS brevalo_platform)
