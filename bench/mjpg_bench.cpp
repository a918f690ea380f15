// Motion JPEG compressor benchmark (bench/codec_bench.sh mjpg).
#include "bench/codec_bench_main.h"
#include "engine/vfw/codecs/builtin.h"

int main(int argc, char** argv) {
    return RunCodecBench(argc, argv, vfw::CreateMjpgCodec);
}
