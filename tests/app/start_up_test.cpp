#include "app/start_up.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/run_in_process.h"
#include "support/file_bytes.h"
#include "support/mkv_reader.h"
#include "support/scratch_directory.h"

namespace tandrel {
namespace {

namespace fs = std::filesystem;
using test::RunInProcess;

constexpr char kUsageText[] =
    "Tandrel (Version 2)Error: not all files-names are given (input: 264, mvc; output: mkv) \n"
    "Usage: tandrel file.264 file.mvc result.mkv [-y] [-r]\n"
    "->     input files file.264 file.mvc; output file result.mkv;\n"
    "->     optional -y to automatically overwrite output file\n"
    "->     optional -r to set stereo mode \" right eye first\" (default is left)\n";

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class StartUpTest : public testing::Test {
 protected:
  StartUpTest() {
    fs::copy_file(fs::path(TANDREL_TEST_DATA) / "MVCDS-4.264", base_);
    fs::copy_file(fs::path(TANDREL_TEST_DATA) / "MVCDS-4.mvc", dependent_);
  }
  std::string Path(const char* name) const { return (scratch_.path() / name).string(); }

  test::ScratchDirectory scratch_;
  const std::string base_ = Path("in.264");
  const std::string dependent_ = Path("in.mvc");
  const std::string output_ = Path("out.mkv");
};

TEST_F(StartUpTest, TooFewArgumentsPrintUsage) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{base_, dependent_}}) {
    const auto run = RunInProcess(args);
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_EQ(run.out, kUsageText);
    EXPECT_EQ(run.err, "");
  }
  EXPECT_FALSE(fs::exists(output_));
}

TEST_F(StartUpTest, MissingInputsAreNamedAndTheOutputIsNotTouched) {
  const std::string missing = Path("missing.264");
  auto run = RunInProcess({missing, Path("missing.mvc"), output_});
  EXPECT_EQ(run.status, kExitFailed);
  EXPECT_EQ(run.out, "Error: could not open h264-file " + missing + "\n");
  run = RunInProcess({base_, missing, output_});
  EXPECT_EQ(run.out, "Error: could not open mvc-file " + missing + "\n");
  EXPECT_FALSE(fs::exists(output_));
}

TEST_F(StartUpTest, ExistingOutputIsOverwrittenOnlyWhenAllowed) {
  const std::string question = "file exists: " + output_ + "; overwrite? (y/n): ";
  struct Answer {
    std::string input;
    bool overwrites;
  };
  for (const Answer& answer : {Answer{"\n  Y\n", true}, Answer{"yes\n", true}, Answer{"n\n", false},
                               Answer{"x", false}, Answer{"", false}}) {
    WriteText(output_, "keep me");
    const auto run = RunInProcess({base_, dependent_, output_}, answer.input);
    EXPECT_EQ(run.out.rfind(question, 0), 0u) << run.out;
    EXPECT_EQ(run.status, answer.overwrites ? kExitCompleted : kExitFailed);
    EXPECT_EQ(fs::file_size(output_) != 7, answer.overwrites) << "answer " << answer.input;
    if (!answer.overwrites) {
      EXPECT_EQ(run.out, question);
    }
  }
  WriteText(output_, "keep me");
  const auto forced = RunInProcess({base_, dependent_, output_, "-y"});
  EXPECT_EQ(forced.status, kExitCompleted);
  EXPECT_EQ(forced.out.find("file exists"), std::string::npos);
}

TEST_F(StartUpTest, OptionsAreWholeArgumentsAnywhere) {
  struct OptionCase {
    std::vector<std::string> extra;
    uint64_t stereo_mode;
    bool indexed;
  };
  for (const OptionCase& c :
       {OptionCase{{}, 13, false}, OptionCase{{"-y", "-r"}, 14, false},
        OptionCase{{"-r", "-y"}, 14, false}, OptionCase{{"-r", "-r", "stray"}, 14, false},
        OptionCase{{"-R", "--r", "-ry", "y"}, 13, false}, OptionCase{{"--cues", "-r"}, 14, true},
        OptionCase{{"--cue", "-cues", "--CUES", "--cues=1"}, 13, false}}) {
    fs::remove(output_);
    std::vector<std::string> args = {base_, dependent_, output_};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    ASSERT_EQ(RunInProcess(args).status, kExitCompleted);
    const auto file = test::ReadMatroska(test::ReadFileBytes(output_));
    ASSERT_EQ(file.tracks.size(), 1u);
    EXPECT_EQ(file.tracks[0].video->stereo_mode, c.stereo_mode);
    EXPECT_EQ(file.seek_head_offset.has_value(), c.indexed);
    EXPECT_EQ(file.cues_offset.has_value(), c.indexed);
  }
}

TEST_F(StartUpTest, UnwritableOutputsAreReported) {
  const std::string in_missing_folder = Path("no/such/folder/out.mkv");
  auto run = RunInProcess({base_, dependent_, in_missing_folder});
  EXPECT_EQ(run.status, kExitFailed);
  EXPECT_EQ(run.out, "Error: could not create mkv-file " + in_missing_folder + "\n");

  run = RunInProcess({base_, dependent_, "/dev/full", "-y"});
  EXPECT_EQ(run.status, kExitFailed);
  EXPECT_EQ(run.err, "Error: could not write mkv-file /dev/full\n");
}

TEST_F(StartUpTest, OutputThatIsAnInputIsRefusedBeforeItIsTouched) {
  const std::string hard_link = Path("hard.264");
  const std::string symbolic_link = Path("symbolic.mvc");
  fs::create_hard_link(base_, hard_link);
  fs::create_symlink(dependent_, symbolic_link);
  const std::string round_about = (scratch_.path() / ".." / scratch_.path().filename() / "in.264");
  const std::vector<uint8_t> base_bytes = test::ReadFileBytes(base_);
  const std::vector<uint8_t> dependent_bytes = test::ReadFileBytes(dependent_);
  for (const std::string& output : {base_, dependent_, hard_link, symbolic_link, round_about}) {
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, std::vector<std::string>{"-y"}}) {
      std::vector<std::string> args = {base_, dependent_, output};
      args.insert(args.end(), extra.begin(), extra.end());
      const auto run = RunInProcess(args, "y\n");
      EXPECT_EQ(run.status, kExitFailed) << output;
      EXPECT_EQ(run.out, "") << output;
      EXPECT_EQ(run.err, "Error: output file is the same as an input file: " + output + "\n");
      EXPECT_EQ(test::ReadFileBytes(base_), base_bytes);
      EXPECT_EQ(test::ReadFileBytes(dependent_), dependent_bytes);
    }
  }
}

TEST_F(StartUpTest, InputThatCannotBeReadIsReported) {
  const std::string folder = scratch_.path().string();
  auto run = RunInProcess({folder, dependent_, output_});
  EXPECT_EQ(run.status, kExitFailed);
  EXPECT_EQ(run.err, "Error: could not read h264-file " + folder + "\n");
  run = RunInProcess({base_, folder, output_, "-y"});
  EXPECT_EQ(run.err, "Error: could not read mvc-file " + folder + "\n");
}

TEST_F(StartUpTest, CompletedRunShowsProgressAndEndsTheLine) {
  const auto run = RunInProcess({base_, dependent_, output_});
  EXPECT_EQ(run.status, kExitCompleted);
  EXPECT_EQ(run.out, "\rdone: 100 %\rdone: 100 %\n");
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace tandrel
