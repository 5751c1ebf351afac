# Read into libpng's own build by scripts/setup (CMAKE_PROJECT_INCLUDE), right after its project().
# libpng 1.6.39's CMakeLists adds its SSE2 row filters only for a processor it knows by name, and
# it knows neither of the Windows targets' ("AMD64", "x86"): the sources and the switch it would
# add are added here instead, once its library target exists.
add_definitions(-DPNG_INTEL_SSE_OPT=1)
cmake_language(DEFER CALL target_sources png_static PRIVATE intel/intel_init.c
               intel/filter_sse2_intrinsics.c)
