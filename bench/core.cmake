brevalo_bench(bench_core
  SOURCES CoreNetworkBench.cpp CoreClassifyBench.cpp CoreBenchMain.cpp
  LIBS brevalo_core)
