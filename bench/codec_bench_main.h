// Shared driver of the compressor benchmarks: see codec_bench_main.cpp.
#pragma once

#include <memory>

#include "engine/vfw/codecs/codec.h"

// Runs the benchmark for the codec made by `create`; returns the exit code.
int RunCodecBench(int argc, char** argv, std::unique_ptr<vfw::Codec> (*create)());
