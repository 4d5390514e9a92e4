# The 3D editor's frame rate while orbiting a model; bench/view_fps.sh runs it on Xvfb.
tessora_add_executable(bench_view_fps SOURCES view_fps.cpp LIBS tessora_view)
