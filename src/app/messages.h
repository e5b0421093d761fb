// Every console text of the tool, in one place. Texts are exact: scripts and
// users match them.
#pragma once

namespace tandrel::messages {

// Usage, written as one run of text when file names are missing.
inline constexpr char kUsage[] =
    "Tandrel (Version 2)"
    "Error: not all files-names are given (input: 264, mvc; output: mkv) \n"
    "Usage: tandrel file.264 file.mvc result.mkv [-y] [-r]\n"
    "->     input files file.264 file.mvc; output file result.mkv;\n"
    "->     optional -y to automatically overwrite output file\n"
    "->     optional -r to set stereo mode \" right eye first\" (default is left)\n";

// Standard output, each followed by the file name and a line feed.
inline constexpr char kCannotOpenH264[] = "Error: could not open h264-file ";
inline constexpr char kCannotOpenMvc[] = "Error: could not open mvc-file ";
inline constexpr char kCannotCreateMkv[] = "Error: could not create mkv-file ";
// Followed by the output name and kOverwriteQuestion.
inline constexpr char kFileExists[] = "file exists: ";
inline constexpr char kOverwriteQuestion[] = "; overwrite? (y/n): ";

// Stream-structure errors on standard output.
inline constexpr char kNotH264[] = "\rfirst file is not a h264\n";
inline constexpr char kNotMvc[] = "\rsecond file is not a mvc\n";

// Standard error; the first two are followed by the unit's header byte.
inline constexpr char kUnknownNalH264[] = "...unknown-NAL in h264-file: ";
inline constexpr char kUnknownNalMvc[] = "...unknown-NAL in mvc-file : ";
inline constexpr char kVintTooBig[] = "ERROR: vint is bigger than targeted size.";
// Followed by the file name as given.
inline constexpr char kCannotReadH264[] = "Error: could not read h264-file ";
inline constexpr char kCannotReadMvc[] = "Error: could not read mvc-file ";
inline constexpr char kCannotWriteMkv[] = "Error: could not write mkv-file ";
inline constexpr char kUnitTooLargeH264[] = "Error: NAL unit larger than 256 MiB in h264-file ";
inline constexpr char kUnitTooLargeMvc[] = "Error: NAL unit larger than 256 MiB in mvc-file ";
inline constexpr char kOutputIsAnInput[] = "Error: output file is the same as an input file: ";
inline constexpr char kMoreDependentUnits[] =
    "warning: mvc-file has more access units than h264-file; the rest is dropped";

}  // namespace tandrel::messages
