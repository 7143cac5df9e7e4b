// Times JsonParse on a configuration text of the size a large mod brings: 10,000 file entries,
// about 1 MB, built in memory.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "json/json_reader.h"
#include "json/json_value.h"

namespace {

constexpr int kFileEntries = 10000;

std::string MakeConfigText() {
  std::string text = "{\n  \"upak\": \"user_mod\",\n  \"fullcopy\": false,\n  \"files\": [\n";
  char entry[320];
  for (int i = 0; i < kFileEntries; ++i) {
    std::snprintf(entry, sizeof(entry),
                  "    {\"name\": \"textures/level_%02d/prop_%05d.dds\", \"pkg\": "
                  "\"levels/level_%02d\", \"meta\": \"meta/prop_%05d.meta\"}%s\n",
                  i % 97, i, i % 97, i, i + 1 < kFileEntries ? "," : "");
    text += entry;
  }
  text += "  ]\n}\n";
  return text;
}

void BM_JsonParseConfig(benchmark::State& state) {
  const std::string text = MakeConfigText();
  for (auto _ : state) {
    JsonRef root = JsonParse(text.c_str());
    if (!root) state.SkipWithError("the text did not parse");
    benchmark::DoNotOptimize(root.Get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["text_bytes"] = static_cast<double>(text.size());
}

BENCHMARK(BM_JsonParseConfig)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
