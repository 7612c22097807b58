// The text layer on the paths a request takes: building the FormBody by
// appends (linear in its size), encoding names for it, decoding and looking
// up query parameters.

#include "text/encoding.h"
#include "text/request.h"
#include "text/text_buffer.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using zv::FormBody;

// A FormBody of n bytes built the way the producers build it: name, "=",
// encoded value, "&", field after field.
void BM_FormBodyOfNBytes(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  const std::string value = zv::form_encode(u"Artist - Title (Radio Edit).mp3", 0);
  for (auto _ : state) {
    FormBody body(0);
    for (int i = 0; body.length() < n; ++i) {
      body.append("file[");
      body.append_int(i % 16);
      body.append("][]=");
      body.append(value.c_str(), static_cast<std::uint32_t>(value.size()));
      body.append_char('&');
    }
    benchmark::DoNotOptimize(body.data());
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FormBodyOfNBytes)->RangeMultiplier(4)->Range(1 << 10, 1 << 24)->Complexity(benchmark::oN);

// The worst case for growth: one character at a time.
void BM_AppendCharN(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  for (auto _ : state) {
    FormBody body(0);
    for (std::uint32_t i = 0; i < n; ++i) body.append_char('&');
    benchmark::DoNotOptimize(body.data());
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_AppendCharN)->RangeMultiplier(4)->Range(1 << 10, 1 << 24)->Complexity(benchmark::oN);

std::u16string mixed_name(std::size_t units) {
  const std::u16string piece = u"Caf\u00E9 del Mar & Friends \u20AC (1).mp3 ";
  std::u16string text;
  while (text.size() < units) text += piece;
  text.resize(units);
  return text;
}

void BM_FormEncode(benchmark::State& state) {
  const std::u16string name = mixed_name(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(zv::form_encode(name.c_str(), static_cast<int>(name.size())));
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FormEncode)->RangeMultiplier(8)->Range(32, 1 << 18)->Complexity(benchmark::oN);

void BM_FormEncodeUtf8(benchmark::State& state) {
  const std::string name = *zv::wide_to_utf8(mixed_name(static_cast<std::size_t>(state.range(0))).c_str(), -1);
  for (auto _ : state) benchmark::DoNotOptimize(zv::form_encode_utf8(name.c_str(), 0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(name.size()));
}
BENCHMARK(BM_FormEncodeUtf8)->Arg(32)->Arg(256)->Arg(1 << 14);

void BM_PercentDecode(benchmark::State& state) {
  std::string text;
  while (text.size() < static_cast<std::size_t>(state.range(0))) text += "C%3A%5CMusic%5CCaf%C3%A9+del+Mar%2F";
  text.resize(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(zv::percent_decode(text.c_str(), static_cast<int>(text.size())));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_PercentDecode)->RangeMultiplier(8)->Range(32, 1 << 17)->Complexity(benchmark::oN);

// A playlist hand-off query with n items; the key looked up is the last one,
// so the scan passes every other parameter first.
void BM_QueryParamLastOfN(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string query;
  for (int i = 0; i < n; ++i) query += "item" + std::to_string(i) + "=" + std::to_string(1000 + i) + "&";
  query += "dir=C%3A%5CMusic%5CRock";
  for (auto _ : state) benchmark::DoNotOptimize(zv::query_param("dir", query.c_str()));
  state.SetComplexityN(static_cast<std::int64_t>(query.size()));
}
BENCHMARK(BM_QueryParamLastOfN)->RangeMultiplier(4)->Range(1, 4096)->Complexity(benchmark::oN);

// The hostile case: a query of nothing but "&" up to the receive size.
void BM_QueryParamAmpersands(benchmark::State& state) {
  const std::string query(static_cast<std::size_t>(state.range(0)), '&');
  for (auto _ : state) benchmark::DoNotOptimize(zv::query_param("dir", query.c_str()));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_QueryParamAmpersands)->RangeMultiplier(8)->Range(64, 131072)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
