// The block decoder as the runtime compiles it: archive/block.cpp built at
// the runtime's optimisation level for that file (tests/bench/CMakeLists.txt
// passes it), its public functions renamed so it links beside the library's
// copy, which the host build compiles at its own level.
#define XorScramble RuntimeLevelXorScramble
#define BlockDecodedSize RuntimeLevelBlockDecodedSize
#define UnpackBlockInto RuntimeLevelUnpackBlockInto
#define UnpackBlock RuntimeLevelUnpackBlock
#define UnpackInPlace RuntimeLevelUnpackInPlace
#include "archive/block.cpp"
