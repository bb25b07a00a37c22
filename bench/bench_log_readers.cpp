// Log player line readers: lines per second through LogReader (file read in blocks, lines parsed in
// place), one file of each form, and CAN FD lines (64 bytes each) in the Vector ASCII form. Goal for
// the Vector ASCII reader: 1,000,000 lines/s and more.
// Also files that are no log at all, opened (detection) and read to their end as the player would:
// 4 MB of carriage returns only, of line feeds only, and of random bytes. Goal: each well under
// 0.1 s, in time linear in the size (lone CRs end lines, so a CR-only file is 4 million lines).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "traffic/log_reader.h"

namespace {

using busprobe::LogFrame;
using busprobe::LogReader;

constexpr int kLines = 500000;

// Writes a file of `kLines` frame lines in one form (once per process) and returns its path.
std::string MakeFile(const char* form) {
  const std::string path = "/tmp/bench_log_readers_" + std::to_string(::getpid()) + "_" + form;
  std::ofstream out(path, std::ios::binary);
  std::mt19937 rng(1);
  char line[512];
  const std::string kind(form);
  if (kind == "asc" || kind == "ascfd")
    out << "date Mon Dec 07 23:51:00 2026\r\nbase hex  timestamps absolute\r\ninternal events logged\r\n"
           "Begin Triggerblock Mon Dec 07 23:51:00 2026\r\n";
  if (kind == "pcan") out << ";   Message Number\r\n;   |  Time\r\n";
  if (kind == "trc") out << ";$FILEVERSION=2.1\r\n;$COLUMNS=N,O,T,B,I,d,R,L,D\r\n;\r\n";
  for (int i = 0; i < kLines; ++i) {
    const unsigned id = rng() & 0x7FF;
    const unsigned b = rng();
    const double t = i * 0.000250;
    if (kind == "asc") {
      std::snprintf(line, sizeof line, "%10.6f 1  %-15X Rx   d 8 %02X %02X %02X %02X 00 11 22 33\r\n", t, id,
                    b & 0xFF, (b >> 8) & 0xFF, (b >> 16) & 0xFF, b >> 24);
    } else if (kind == "ascfd") {
      // As the logger writes them: name column empty, the trailer after the bytes.
      int n = std::snprintf(line, sizeof line, "%10.6f CANFD   1 Rx   %8X  %32s 1 0 f 64", t, id, "");
      for (int k = 0; k < 64; ++k)
        n += std::snprintf(line + n, sizeof line - n, " %02X", (b >> (k % 4 * 8)) & 0xFF);
      std::snprintf(line + n, sizeof line - n,
                    "        0    0     3000        0        0        0        0        0\r\n");
    } else if (kind == "pcan") {
      std::snprintf(line, sizeof line, "%7d) %10d  Rx  %04X  8  %02X %02X %02X %02X 00 11 22 33\r\n", i + 1,
                    i / 4, id, b & 0xFF, (b >> 8) & 0xFF, (b >> 16) & 0xFF, b >> 24);
    } else if (kind == "trc") {
      std::snprintf(line, sizeof line,
                    "%7d %13.3f DT 1      %04X Rx -  8    %02X %02X %02X %02X 00 11 22 33\r\n", i + 1,
                    t * 1000, id, b & 0xFF, (b >> 8) & 0xFF, (b >> 16) & 0xFF, b >> 24);
    } else {
      std::snprintf(line, sizeof line, "(%.6f) can0 %03X#%08X00112233\n", 1700000000.0 + t, id, b);
    }
    out << line;
  }
  return path;
}

constexpr size_t kJunkBytes = size_t{4} << 20;

// A file of kJunkBytes: one byte repeated, or random bytes when fill is 0.
std::string MakeJunkFile(const char* name, char fill) {
  const std::string path = "/tmp/bench_log_readers_" + std::to_string(::getpid()) + "_" + name;
  std::string bytes(kJunkBytes, fill);
  if (fill == 0) {
    std::mt19937 rng(7);
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
  }
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

struct Files {
  std::string asc = MakeFile("asc"), ascFd = MakeFile("ascfd"), pcan = MakeFile("pcan"),
              trc = MakeFile("trc"), candump = MakeFile("candump");
  std::string carriageReturns = MakeJunkFile("cr", '\r'), lineFeeds = MakeJunkFile("lf", '\n'),
              randomBytes = MakeJunkFile("random", 0);
  ~Files() {
    for (const std::string* p :
         {&asc, &ascFd, &pcan, &trc, &candump, &carriageReturns, &lineFeeds, &randomBytes})
      std::remove(p->c_str());
  }
};

const Files& TheFiles() {
  static const Files files;
  return files;
}

void ReadWholeFile(benchmark::State& state, const std::string& path) {
  uint64_t lines = 0;
  for (auto _ : state) {
    LogReader reader;
    if (!reader.open(path)) {
      state.SkipWithError("file did not open");
      return;
    }
    LogFrame frame;
    uint64_t frames = 0;
    while (reader.next(frame)) ++frames;
    if (frames != kLines) {
      state.SkipWithError("not every line gave a frame");
      return;
    }
    benchmark::DoNotOptimize(frame);
    lines += reader.counts().lines;
  }
  state.SetItemsProcessed(static_cast<int64_t>(lines));
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}

void BM_ReadVectorAscii(benchmark::State& state) {
  ReadWholeFile(state, TheFiles().asc);
}
void BM_ReadVectorAsciiFd64(benchmark::State& state) {
  ReadWholeFile(state, TheFiles().ascFd);
}
void BM_ReadPcanExplorer(benchmark::State& state) {
  ReadWholeFile(state, TheFiles().pcan);
}
void BM_ReadPcanTrace21(benchmark::State& state) {
  ReadWholeFile(state, TheFiles().trc);
}
void BM_ReadCandump(benchmark::State& state) {
  ReadWholeFile(state, TheFiles().candump);
}

// Open (the detection may reject the file) and read whatever frames it gives.
void ReadJunkFile(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    LogReader reader;
    LogFrame frame;
    uint64_t frames = 0;
    if (reader.open(path)) {
      while (reader.next(frame)) ++frames;
    }
    benchmark::DoNotOptimize(frames);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kJunkBytes));
}

void BM_ReadCarriageReturnsOnly4MB(benchmark::State& state) {
  ReadJunkFile(state, TheFiles().carriageReturns);
}
void BM_ReadLineFeedsOnly4MB(benchmark::State& state) {
  ReadJunkFile(state, TheFiles().lineFeeds);
}
void BM_ReadRandomBytes4MB(benchmark::State& state) {
  ReadJunkFile(state, TheFiles().randomBytes);
}

BENCHMARK(BM_ReadVectorAscii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadVectorAsciiFd64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPcanExplorer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPcanTrace21)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCandump)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCarriageReturnsOnly4MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLineFeedsOnly4MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRandomBytes4MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
