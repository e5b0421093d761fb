// Feeds the real binary what users point it at by mistake: wrong, empty,
// truncated, swapped, oversized and random files, unusable outputs. Every row
// names the message (exact), the exit status and what becomes of the output.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/annex_b_oracle.h"
#include "support/command_runner.h"
#include "support/file_bytes.h"
#include "support/mkv_reader.h"
#include "support/scratch_directory.h"

namespace tandrel::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
#ifdef TANDREL_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

enum class Output {
  Absent,      // never created
  Unchanged,   // an existing output (or the input it names) keeps its bytes
  Whole,       // a finished Matroska file whose blocks hold exactly the kept units
  WholeEmpty,  // a finished Matroska file with one empty block and no track
  Unfinished,  // left as far as it was written
  NotChecked,  // a device such as /dev/full
};

// The progress line ("\rdone: " and a figure of width 3, then " %") is
// rewritten in place; the messages are what remains.
std::string WithoutProgress(std::string text) {
  static constexpr std::string_view kProgress = "\rdone: ";
  static constexpr std::size_t kProgressLength = kProgress.size() + 5;
  for (std::size_t at = text.find(kProgress); at != std::string::npos;
       at = text.find(kProgress, at)) {
    text.erase(at, kProgressLength);
  }
  return text;
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Writes `size` bytes of `fill` after `head`, a megabyte at a time.
void WriteFilled(const fs::path& path, const Bytes& head, std::uint64_t size, std::uint8_t fill) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  const std::string block(kMiB, static_cast<char>(fill));
  for (std::uint64_t left = size; left > 0;) {
    const std::uint64_t n = std::min<std::uint64_t>(left, kMiB);
    file.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
}

Bytes SampleBytes(const char* name) { return ReadFileBytes(fs::path(TANDREL_TEST_DATA) / name); }

// The sample base view with its first SPS cut off in the middle of its VUI.
Bytes BaseViewWithCutVui() {
  const Bytes stream = SampleBytes("x264_360p.264");
  const std::vector<Bytes> units = SplitNalUnits(stream);
  Bytes out;
  bool cut = false;
  for (const Bytes& unit : units) {
    out.insert(out.end(), {0, 0, 0, 1});
    const bool first_sps = !cut && NalUnitType(unit) == 7;
    // profile, constraints, level and the fields up to the VUI's timing take
    // about half of this SPS; keeping 20 of its 38 bytes cuts inside the VUI.
    const std::size_t keep = first_sps ? 20 : unit.size();
    out.insert(out.end(), unit.begin(), unit.begin() + static_cast<std::ptrdiff_t>(keep));
    cut = cut || first_sps;
  }
  return out;
}

std::uint64_t PeakChildRssBytes() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

struct BadInputCase {
  std::string name;
  // Makes the inputs in the scratch folder; returns the argument list after
  // the program name.
  std::function<std::vector<std::string>(const fs::path& dir)> make;
  int exit_status;
  std::string standard_output;  // without the progress line
  std::string standard_error;
  Output output;
  // Bound on the run's peak resident memory; 0 leaves it unchecked.
  std::uint64_t peak_memory_bound = 0;
};

const fs::path kBase = "in.264";
const fs::path kDependent = "in.mvc";
const fs::path kOutput = "out.mkv";

std::vector<std::string> Args(const fs::path& dir, const fs::path& base, const fs::path& dependent,
                              const fs::path& output, bool overwrite = true) {
  std::vector<std::string> args = {
      (dir / base).string(), (dir / dependent).string(),
      output.is_absolute() ? output.string() : (dir / output).string()};
  if (overwrite) args.emplace_back("-y");
  return args;
}

// Writes the two views and returns the ordinary argument list.
std::vector<std::string> Pair(const fs::path& dir, const Bytes& base, const Bytes& dependent) {
  WriteBytes(dir / kBase, base);
  WriteBytes(dir / kDependent, dependent);
  return Args(dir, kBase, kDependent, kOutput);
}

std::vector<BadInputCase> BadInputCases() {
  const Bytes delimiter_and_idr = {0, 0, 0, 1, 0x09, 0x10, 0, 0, 0, 1, 0x65};
  return {
      {"BothInputsEmpty", [](const fs::path& dir) { return Pair(dir, {}, {}); }, 0, "\n", "",
       Output::WholeEmpty},
      {"OnlyZeroBytes",
       [](const fs::path& dir) { return Pair(dir, Bytes(100000, 0), Bytes(100000, 0)); }, 1, "",
       "...unknown-NAL in h264-file: 0\n", Output::Unfinished},
      {"TwentyMegabytesWithoutStartCode",
       [](const fs::path& dir) {
         WriteFilled(dir / kBase, {}, 20 * kMiB, 0x55);
         WriteFilled(dir / kDependent, {}, 20 * kMiB, 0x55);
         return Args(dir, kBase, kDependent, kOutput);
       },
       1, "", "...unknown-NAL in h264-file: 85\n", Output::Unfinished},
      {"UnitJustOverOneLoad",
       [delimiter_and_idr](const fs::path& dir) {
         WriteFilled(dir / kBase, delimiter_and_idr, 4 * kMiB + 1, 0x55);
         WriteBytes(dir / kDependent, {0, 0, 0, 1, 0x18, 0x10, 0, 0, 0, 1, 0x14, 0x80});
         return Args(dir, kBase, kDependent, kOutput);
       },
       0, "\n", "", Output::Whole},
      {"UnitOf300MiB",
       [delimiter_and_idr](const fs::path& dir) {
         WriteFilled(dir / kBase, delimiter_and_idr, 300 * kMiB, 0x55);
         WriteBytes(dir / kDependent, SampleBytes("x264_360p.mvc"));
         return Args(dir, kBase, kDependent, kOutput);
       },
       1, "", "Error: NAL unit larger than 256 MiB in h264-file ", Output::Unfinished,
       // The unit is held whole up to the 256 MiB limit and no further: the
       // limit and one load, not the whole file, nor the file twice.
       400 * kMiB},
      {"DependentViewEndsInsideAUnit",
       [](const fs::path& dir) {
         Bytes dependent = SampleBytes("x264_360p.mvc");
         dependent.erase(dependent.end() - 100, dependent.end());
         return Pair(dir, SampleBytes("x264_360p.264"), dependent);
       },
       0, "\n", "", Output::Whole},
      {"ViewsSwapped",
       [](const fs::path& dir) {
         return Pair(dir, SampleBytes("x264_360p.mvc"), SampleBytes("x264_360p.264"));
       },
       1, "\rfirst file is not a h264\n", "", Output::Unfinished},
      {"SameBaseViewTwice",
       [](const fs::path& dir) {
         return Pair(dir, SampleBytes("x264_360p.264"), SampleBytes("x264_360p.264"));
       },
       1, "\rsecond file is not a mvc\n", "", Output::Unfinished},
      {"SpsWithCutVui",
       [](const fs::path& dir) {
         return Pair(dir, BaseViewWithCutVui(), SampleBytes("x264_360p.mvc"));
       },
       0, "\n", "read over SPS-NAL size !\n", Output::Whole},
      {"MoreDependentAccessUnits",
       [](const fs::path& dir) {
         Bytes dependent = SampleBytes("MVCDS-4.mvc");
         const Bytes again = dependent;
         dependent.insert(dependent.end(), again.begin(), again.end());
         return Pair(dir, SampleBytes("MVCDS-4.264"), dependent);
       },
       0, "\n", "warning: mvc-file has more access units than h264-file; the rest is dropped\n",
       Output::Whole},
      {"MissingBaseView",
       [](const fs::path& dir) {
         WriteBytes(dir / kDependent, SampleBytes("MVCDS-4.mvc"));
         return Args(dir, "missing.264", kDependent, kOutput);
       },
       1, "Error: could not open h264-file ", "", Output::Absent},
      {"MissingDependentView",
       [](const fs::path& dir) {
         WriteBytes(dir / kBase, SampleBytes("MVCDS-4.264"));
         return Args(dir, kBase, "missing.mvc", kOutput);
       },
       1, "Error: could not open mvc-file ", "", Output::Absent},
      {"OutputInMissingFolder",
       [](const fs::path& dir) {
         Pair(dir, SampleBytes("MVCDS-4.264"), SampleBytes("MVCDS-4.mvc"));
         return Args(dir, kBase, kDependent, "no/such/folder/out.mkv");
       },
       1, "Error: could not create mkv-file ", "", Output::Absent},
      {"InputIsADirectory",
       [](const fs::path& dir) {
         fs::create_directory(dir / "folder.264");
         WriteBytes(dir / kDependent, SampleBytes("MVCDS-4.mvc"));
         return Args(dir, "folder.264", kDependent, kOutput);
       },
       1, "", "Error: could not read h264-file ", Output::Unfinished},
      {"OutputIsAFullDisk",
       [](const fs::path& dir) {
         Pair(dir, SampleBytes("MVCDS-4.264"), SampleBytes("MVCDS-4.mvc"));
         return Args(dir, kBase, kDependent, "/dev/full");
       },
       1, "", "Error: could not write mkv-file /dev/full\n", Output::NotChecked},
      {"OverwriteRefused",
       [](const fs::path& dir) {
         WriteBytes(dir / kOutput, {'k', 'e', 'e', 'p'});
         Pair(dir, SampleBytes("MVCDS-4.264"), SampleBytes("MVCDS-4.mvc"));
         return Args(dir, kBase, kDependent, kOutput, false);
       },
       1, "file exists: ", "", Output::Unchanged},
      {"OutputIsTheBaseView",
       [](const fs::path& dir) {
         Pair(dir, SampleBytes("MVCDS-4.264"), SampleBytes("MVCDS-4.mvc"));
         return Args(dir, kBase, kDependent, kBase);
       },
       1, "", "Error: output file is the same as an input file: ", Output::Unchanged},
  };
}

// The messages that end in a file name get the name the row passed.
std::string WithName(const std::string& message, const std::vector<std::string>& args) {
  if (message.ends_with("h264-file ")) return message + args[0] + "\n";
  if (message.ends_with("mvc-file ")) return message + args[1] + "\n";
  if (message.ends_with("mkv-file ") || message.ends_with("input file: ")) {
    return message + args[2] + "\n";
  }
  if (message == "file exists: ") return message + args[2] + "; overwrite? (y/n): ";
  return message;
}

void PrintTo(const BadInputCase& c, std::ostream* out) { *out << c.name; }

class BadInput : public testing::TestWithParam<BadInputCase> {};

TEST_P(BadInput, GetsItsMessageAndExitStatusAndLeavesTheOutputAsExpected) {
  const BadInputCase& c = GetParam();
  ScratchDirectory scratch;
  const std::vector<std::string> args = c.make(scratch.path());
  const fs::path output = args[2];
  const bool output_existed = fs::exists(output);
  const Bytes output_before =
      output_existed && fs::is_regular_file(output) ? ReadFileBytes(output) : Bytes{};

  std::vector<std::string> command = {TANDREL_EXE};
  command.insert(command.end(), args.begin(), args.end());
  const CommandResult run = RunCommand(command);
  ASSERT_TRUE(run.exited) << "crashed or could not start";
  EXPECT_EQ(run.exit_status, c.exit_status) << run.standard_error;
  EXPECT_EQ(WithoutProgress(run.standard_output), WithName(c.standard_output, args));
  EXPECT_EQ(run.standard_error, WithName(c.standard_error, args));
  // Each test runs in a process of its own, and holds little memory itself
  // (a child's peak includes its parent's at the fork), so the peak is this run's.
  // The sanitizers' allocator keeps freed blocks in quarantine, so memory is
  // measured in the plain build only.
  if (c.peak_memory_bound > 0 && !kSanitized) {
    EXPECT_LT(PeakChildRssBytes(), c.peak_memory_bound);
  }

  switch (c.output) {
    case Output::Absent:
      EXPECT_FALSE(fs::exists(output));
      break;
    case Output::Unchanged:
      EXPECT_EQ(ReadFileBytes(output), output_before);
      break;
    case Output::Whole: {
      const MatroskaFile mkv = ReadMatroska(ReadFileBytes(output));
      std::vector<Bytes> blocks;
      for (const Cluster& cluster : mkv.clusters) {
        for (const SimpleBlock& block : cluster.blocks) blocks.push_back(block.payload);
      }
      std::vector<Bytes> expected;
      for (const ExpectedBlock& block :
           ExpectStereoBlocks(ReadFileBytes(args[0]), ReadFileBytes(args[1]))) {
        expected.push_back(block.payload);
      }
      EXPECT_TRUE(blocks == expected)
          << blocks.size() << " blocks, " << expected.size() << " expected";
      break;
    }
    case Output::WholeEmpty: {
      const MatroskaFile mkv = ReadMatroska(ReadFileBytes(output));
      EXPECT_TRUE(mkv.tracks.empty());
      ASSERT_EQ(mkv.clusters.size(), 1u);
      ASSERT_EQ(mkv.clusters[0].blocks.size(), 1u);
      EXPECT_TRUE(mkv.clusters[0].blocks[0].payload.empty());
      break;
    }
    case Output::Unfinished:
      EXPECT_TRUE(fs::is_regular_file(output));
      EXPECT_THROW(ReadMatroska(ReadFileBytes(output)), EbmlFormatError);
      break;
    case Output::NotChecked:
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, BadInput, testing::ValuesIn(BadInputCases()),
                         [](const auto& row) { return row.param.name; });

// Random bytes in either view: whatever the run makes of them, it ends with
// a status and message of its own, and a completed run leaves a whole file.
TEST(BadInputRandom, RandomBytesEndWithAStatusAndAWholeOrUnfinishedFile) {
  ScratchDirectory scratch;
  std::mt19937 generator(20261211);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 8; ++round) {
    Bytes base(64 * 1024), dependent(64 * 1024);
    for (std::uint8_t& b : base) b = static_cast<std::uint8_t>(byte(generator));
    for (std::uint8_t& b : dependent) b = static_cast<std::uint8_t>(byte(generator));
    // Odd rounds sprinkle start codes so that the reader finds units to judge.
    if (round % 2 == 1) {
      for (std::size_t at = 100; at + 3 < base.size(); at += 997) {
        base[at] = base[at + 1] = dependent[at] = dependent[at + 1] = 0;
        base[at + 2] = dependent[at + 2] = 1;
      }
    }
    const std::vector<std::string> args = Pair(scratch.path(), base, dependent);
    std::vector<std::string> command = {TANDREL_EXE};
    command.insert(command.end(), args.begin(), args.end());
    const CommandResult run = RunCommand(command);
    ASSERT_TRUE(run.exited) << "round " << round;
    EXPECT_TRUE(run.exit_status == 0 || run.exit_status == 1) << "round " << round;
    if (run.exit_status == 0) {
      EXPECT_NO_THROW(ReadMatroska(ReadFileBytes(args[2]))) << "round " << round;
    } else {
      EXPECT_FALSE(run.standard_error.empty() && WithoutProgress(run.standard_output).empty())
          << "a failed run names its reason, round " << round;
    }
  }
}

}  // namespace
}  // namespace tandrel::test
