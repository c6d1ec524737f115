// Conversion speed against a plain memcpy of the same bytes, in one run, and peak memory.
//
//   build/bench/convert/bench_convert                 # speed: both benchmarks and their ratio
//   build/bench/convert/bench_convert --peak-memory   # one conversion, peak RSS vs input+output
//
// The input is about 100 MB of delimited text: 1,000,000 rows x 8 columns of mixed lengths,
// some values quoted (commas, quotes, line breaks), some needing XML escapes.

#include "convert/ConvertTextToXml.h"
#include "convert/DelimitedText.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <sys/resource.h>

namespace {

constexpr int kRows = 1'000'000;

std::string makeInput() {
    std::string text;
    text.reserve(std::size_t(kRows) * 112);
    text += "id,customer,email,city,amount,created,active,note";
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    static const char* const kCities[] = {"Oslo",   "Zürich",           "São Paulo", "Nairobi",
                                          "Kraków", "Ho Chi Minh City", "Lima",      "Perth"};
    std::string value;
    for (int r = 0; r < kRows; ++r) {
        const std::uint64_t n = next();
        text += "\r\n";
        text += std::to_string(r);
        text += ",Customer ";
        text += std::to_string(n % 100000);
        text += ",user";
        text += std::to_string(n % 9973);
        text += "@example.com,";
        text += kCities[n % 8];
        text += ',';
        text += std::to_string(n % 1000000 / 100) + "." + std::to_string(10 + n % 90);
        text += ",2024-";
        text += std::to_string(1 + n % 12) + "-" + std::to_string(10 + n % 18) + "T12:34:56";
        text += n % 2 ? ",1," : ",0,";
        switch (n % 10) {
        case 0:
            value = "Fragile, handle with care";
            break;
        case 1:
            value = "He said \"ship it\"\r\nsecond line";
            break;
        case 2:
            value = "Tom & Jerry <cartoon>";
            break;
        case 3:
            value.clear();
            break;
        default:
            value.assign(10 + n % 40, static_cast<char>('a' + n % 26));
        }
        const std::size_t start = text.size();
        text += value;
        CSVXML::quoteFieldFrom(text, start);
    }
    return text;
}

const std::string& input() {
    static const std::string text = makeInput();
    return text;
}

// Gathers the output in a 1 MiB buffer that is emptied when full, as the command line does
// before each write to its file.
class StreamingSink final : public CSVXML::ConversionSink {
public:
    StreamingSink() { buffer_.reserve(kSize); }
    void append(std::string_view xml) override {
        if (buffer_.size() + xml.size() > kSize) {
            bytes_ += buffer_.size();
            benchmark::DoNotOptimize(buffer_.data());
            buffer_.clear();
        }
        buffer_.append(xml);
    }
    std::size_t bytes() const { return bytes_ + buffer_.size(); }
    void begin() override {
        bytes_ = 0;
        buffer_.clear();
    }

private:
    static constexpr std::size_t kSize = 1 << 20;
    std::string buffer_;
    std::size_t bytes_ = 0;
};

// Gathers the whole output in one string.
class BufferSink final : public CSVXML::ConversionSink {
public:
    explicit BufferSink(std::string& out) : out_(out) {}
    void begin() override { out_.clear(); }
    void append(std::string_view xml) override { out_.append(xml); }

private:
    std::string& out_;
};

void BM_Memcpy(benchmark::State& state) {
    const std::string& in = input();
    std::string out(in.size(), '\0');
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in.size()));
}

void BM_ConvertTextToXml(benchmark::State& state) {
    const std::string& in = input();
    StreamingSink sink;
    for (auto _ : state) {
        CSVXML::ConvertTextToXml(in, CSVXML::ConversionOptions{}, sink);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in.size()));
    state.counters["output_MB"] = double(sink.bytes()) / 1e6;
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ConvertTextToXml)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// Prints the usual table, then conversion speed as a share of memcpy speed.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            seconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (seconds_.count("BM_Memcpy") && seconds_.count("BM_ConvertTextToXml")) {
            const double ratio = seconds_["BM_Memcpy"] / seconds_["BM_ConvertTextToXml"];
            std::printf(
                "input %.1f MB; conversion speed = %.1f%% of memcpy speed (target >= 5%%)\n",
                double(input().size()) / 1e6, ratio * 100.0);
        }
    }

private:
    std::map<std::string, double> seconds_;
};

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int peakMemory() {
    const std::string& in = input();
    std::string out;
    BufferSink sink(out);
    CSVXML::ConvertTextToXml(in, CSVXML::ConversionOptions{}, sink);
    const double peakMB = double(peakRssKiB()) * 1024.0 / 1e6;
    const double dataMB = double(in.size() + out.size()) / 1e6;
    std::printf("input %.1f MB, output %.1f MB, peak RSS %.1f MB = %.2fx (input + output); "
                "target <= 3x\n",
                double(in.size()) / 1e6, double(out.size()) / 1e6, peakMB, peakMB / dataMB);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--peak-memory") == 0) {
        return peakMemory();
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
