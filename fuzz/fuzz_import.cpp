// libFuzzer target: arbitrary bytes as a text file, a template and a stamped file.
//   cmake -S . -B build-fuzz -G Ninja -DDZ_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DDZ_GUI=OFF
//   cmake --build build-fuzz --target fuzz_import
//   build-fuzz/fuzz/fuzz_import fuzz/corpus -max_total_time=60
#include "import_harness.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static dz::xvl::fuzz::FuzzWorld world(DZ_FUZZ_DICTIONARY_DIR);
    if (!world.ok) std::abort();
    if (!dz::xvl::fuzz::ImportBytes(world, data, size)) std::abort();
    return 0;
}
