brevalo_bench(bench_mime SOURCES MimeBench.cpp LIBS brevalo_mail)
