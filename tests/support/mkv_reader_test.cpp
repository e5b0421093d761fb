#include "support/mkv_reader.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tandrel::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) {
    joined.insert(joined.end(), part.begin(), part.end());
  }
  return joined;
}

Bytes BigEndian(std::uint64_t value, std::size_t width) {
  Bytes bytes(width);
  for (std::size_t i = 0; i < width; ++i) {
    bytes[width - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  return bytes;
}

Bytes IdBytes(std::uint32_t id) {
  std::size_t width = 4;
  while (width > 1 && (id >> (8 * (width - 1))) == 0) {
    --width;
  }
  return BigEndian(id, width);
}

// An element with its size written as an EBML vint of `size_width` bytes.
Bytes Element(std::uint32_t id, const Bytes& data, std::size_t size_width = 1) {
  Bytes size = BigEndian(data.size(), size_width);
  size[0] = static_cast<std::uint8_t>(size[0] | (0x80U >> (size_width - 1)));
  return Join({IdBytes(id), size, data});
}

Bytes Text(const std::string& text) { return {text.begin(), text.end()}; }

Bytes EbmlHeader() {
  return Element(0x1A45DFA3, Join({Element(0x4286, {1}), Element(0x42F7, {1}), Element(0x42F2, {4}),
                                   Element(0x42F3, {8}), Element(0x4282, Text("matroska")),
                                   Element(0x4287, {4}), Element(0x4285, {2})}));
}

Bytes InfoElement() {
  // Duration 1001.0 as a big-endian single-precision float.
  return Element(0x1549A966, Join({Element(0x2AD7B1, {0x0F, 0x42, 0x40}),
                                   Element(0x4489, {0x44, 0x7A, 0x40, 0x00})}));
}

Bytes TracksElement() {
  const Bytes mapping =
      Element(0x41E4, Join({Element(0x41E7, Text("mvcC")), Element(0x41ED, {0xAA, 0xBB}, 2)}), 2);
  const Bytes video =
      Element(0xE0, Join({Element(0xB0, {0x02, 0x80}), Element(0xBA, {0x01, 0xE0}),
                          Element(0x54B0, {0, 0, 0x02, 0x80}), Element(0x54BA, {0, 0, 0x01, 0xE0}),
                          Element(0x53B8, {0x0D})}));
  const Bytes entry =
      Element(0xAE,
              Join({Element(0xD7, {1}), Element(0x73C5, BigEndian(0x7EA4A9C9056B826CULL, 8)),
                    Element(0x83, {1}), Element(0x86, Text("V_MPEG4/ISO/AVC")),
                    Element(0x63A2, {0x01, 0x64, 0x00, 0x29}, 2), mapping, video,
                    Element(0x23E383, BigEndian(41708333, 4))}),
              2);
  return Element(0x1654AE6B, entry, 2);
}

Bytes SimpleBlockElement(Bytes header_and_payload, std::size_t size_width) {
  return Element(0xA3, header_and_payload, size_width);
}

// A cluster at timecode 1001 with a keyframe block (3-byte size) and a block with a
// negative relative timecode (4-byte size, as large blocks get).
Bytes ClusterElement() {
  return Element(0x1F43B675,
                 Join({Element(0xE7, {0x00, 0x03, 0xE9}),
                       SimpleBlockElement({0x81, 0x00, 0x00, 0x80, 0, 0, 0, 2, 0x65, 0x88}, 3),
                       SimpleBlockElement({0x81, 0xFF, 0xFE, 0x01, 0, 0, 0, 1, 0x01}, 4)}),
                 4);
}

Bytes SegmentElement(const Bytes& children) { return Element(0x18538067, children, 8); }

Bytes SampleFile() {
  return Join(
      {EbmlHeader(), SegmentElement(Join({InfoElement(), TracksElement(), ClusterElement()}))});
}

TEST(ReadMatroskaTest, ReadsHeaderTrackAndBlocks) {
  const Bytes file = SampleFile();
  const MatroskaFile mkv = ReadMatroska(file);

  EXPECT_EQ(mkv.ebml.doc_type, "matroska");
  EXPECT_EQ(mkv.ebml.doc_type_version, 4U);
  EXPECT_EQ(mkv.ebml.doc_type_read_version, 2U);
  EXPECT_EQ(mkv.ebml.max_size_length, 8U);
  EXPECT_EQ(mkv.segment_offset, EbmlHeader().size());
  EXPECT_EQ(mkv.segment_size_width, 8U);
  EXPECT_EQ(mkv.segment_size, file.size() - mkv.segment_data_offset);
  EXPECT_EQ(mkv.info_offset, mkv.segment_data_offset);
  EXPECT_EQ(mkv.timecode_scale, 1000000U);
  EXPECT_EQ(mkv.duration, 1001.0);
  EXPECT_EQ(mkv.tracks_offset, mkv.segment_data_offset + InfoElement().size());

  ASSERT_EQ(mkv.tracks.size(), 1U);
  const TrackEntry& track = mkv.tracks[0];
  EXPECT_EQ(track.track_number, 1U);
  EXPECT_EQ(track.track_uid, 0x7EA4A9C9056B826CULL);
  EXPECT_EQ(track.codec_id, "V_MPEG4/ISO/AVC");
  EXPECT_EQ(track.codec_private, (Bytes{0x01, 0x64, 0x00, 0x29}));
  EXPECT_EQ(track.default_duration, 41708333U);
  ASSERT_EQ(track.block_addition_mappings.size(), 1U);
  EXPECT_EQ(track.block_addition_mappings[0].id_type, 0x6D766343U);
  EXPECT_EQ(track.block_addition_mappings[0].id_extra_data, (Bytes{0xAA, 0xBB}));
  ASSERT_TRUE(track.video.has_value());
  EXPECT_EQ(track.video->pixel_width, 640U);
  EXPECT_EQ(track.video->pixel_height, 480U);
  EXPECT_EQ(track.video->display_width, 640U);
  EXPECT_EQ(track.video->display_height, 480U);
  EXPECT_EQ(track.video->stereo_mode, 13U);
  EXPECT_EQ(file[track.video->stereo_mode_value_offset], 0x0D);

  ASSERT_EQ(mkv.clusters.size(), 1U);
  const Cluster& cluster = mkv.clusters[0];
  EXPECT_EQ(cluster.offset,
            mkv.segment_data_offset + InfoElement().size() + TracksElement().size());
  EXPECT_EQ(cluster.size_width, 4U);
  EXPECT_EQ(cluster.timecode, 1001U);
  ASSERT_EQ(cluster.blocks.size(), 2U);
  EXPECT_EQ(cluster.blocks[0].size_width, 3U);
  EXPECT_EQ(cluster.blocks[0].track_number, 1U);
  EXPECT_EQ(cluster.blocks[0].relative_timecode, 0);
  EXPECT_EQ(cluster.blocks[0].flags, 0x80);
  EXPECT_EQ(cluster.blocks[0].payload, (Bytes{0, 0, 0, 2, 0x65, 0x88}));
  EXPECT_EQ(cluster.blocks[1].size_width, 4U);
  EXPECT_EQ(cluster.blocks[1].relative_timecode, -2);
  EXPECT_EQ(cluster.blocks[1].flags, 0x01);
  EXPECT_EQ(cluster.blocks[1].payload, (Bytes{0, 0, 0, 1, 0x01}));
}

struct VintCase {
  Bytes bytes;
  std::uint64_t value;
  std::size_t width;
  friend void PrintTo(const VintCase& c, std::ostream* os) { *os << c.width << "-byte vint"; }
};

class ReadVintTest : public ::testing::TestWithParam<VintCase> {};

TEST_P(ReadVintTest, DecodesEveryWidth) {
  const Vint vint = ReadVint(GetParam().bytes, 0);
  EXPECT_EQ(vint.value, GetParam().value);
  EXPECT_EQ(vint.width, GetParam().width);
}

INSTANTIATE_TEST_SUITE_P(Widths, ReadVintTest,
                         ::testing::Values(VintCase{{0x81}, 1, 1}, VintCase{{0x40, 0x8E}, 142, 2},
                                           VintCase{{0x20, 0x00, 0x75, 0xEE}, 117, 3},
                                           VintCase{{0x10, 0x00, 0x01, 0x39}, 313, 4},
                                           VintCase{
                                               {0x0F, 0xFF, 0xFF, 0xFF, 0xFE}, 0x7FFFFFFFEULL, 5},
                                           VintCase{{0x05, 0, 0, 0, 0, 1}, 0x10000000001ULL, 6},
                                           VintCase{{0x02, 0, 0, 0, 0, 0, 0x80}, 0x80, 7},
                                           VintCase{{0x01, 0, 0, 0, 0, 0, 0x01, 0x64}, 356, 8}));

TEST(ReadVintTest, RejectsAMissingMarkerAndACutOffValue) {
  EXPECT_THROW(ReadVint(Bytes{0x00, 0x81}, 0), EbmlFormatError);
  EXPECT_THROW(ReadVint(Bytes{0x10, 0x00, 0x01}, 0), EbmlFormatError);
  EXPECT_THROW(ReadVint(Bytes{0x81}, 1), EbmlFormatError);
}

struct MalformedCase {
  std::string name;
  Bytes file;
  std::string message_part;
  friend void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }
};

class MalformedFileTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedFileTest, IsRejectedWithAReason) {
  try {
    ReadMatroska(GetParam().file);
    FAIL() << "the file was accepted";
  } catch (const EbmlFormatError& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().message_part), std::string::npos)
        << error.what();
  }
}

Bytes WithoutLastByte(Bytes bytes) {
  bytes.pop_back();
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Structure, MalformedFileTest,
    ::testing::Values(
        MalformedCase{"Truncated", WithoutLastByte(SampleFile()), "runs past"},
        MalformedCase{"TrailingByte", Join({SampleFile(), {0x00}}), "invalid element ID"},
        MalformedCase{
            "BlockLongerThanItsCluster",
            Join({EbmlHeader(),
                  SegmentElement(Element(0x1F43B675,
                                         Join({Element(0xE7, {0}),
                                               Bytes{0xA3, 0x20, 0x00, 0x09, 0x81, 0, 0, 0x80}}),
                                         4))}),
            "runs past"},
        MalformedCase{"ElementAfterTheSegment", Join({SampleFile(), Element(0xEC, {0})}),
                      "top-level elements are 0x1A45DFA3 0x18538067 0xEC"},
        MalformedCase{"UnknownSegmentSize",
                      Join({EbmlHeader(), Bytes{0x18, 0x53, 0x80, 0x67, 0xFF}, InfoElement()}),
                      "unknown"},
        MalformedCase{"SizeFieldCutOffByItsParent",
                      Join({EbmlHeader(), SegmentElement(Bytes{0x15, 0x49, 0xA9, 0x66, 0x40})}),
                      "cut off"},
        MalformedCase{"SimpleBlockWithoutFlags",
                      Join({EbmlHeader(),
                            SegmentElement(Element(0x1F43B675,
                                                   SimpleBlockElement({0x81, 0x00, 0x00}, 3), 4))}),
                      "too short"},
        MalformedCase{
            "ThreeByteDuration",
            Join({EbmlHeader(), SegmentElement(Element(0x1549A966, Element(0x4489, {1, 2, 3})))}),
            "not a valid float"},
        MalformedCase{
            "TwoTimecodesInACluster",
            Join({EbmlHeader(),
                  SegmentElement(Element(0x1F43B675, Join({Element(0xE7, {0}), Element(0xE7, {1})}),
                                         4))}),
            "occurs twice"},
        MalformedCase{"NoSegment", EbmlHeader(), "top-level elements are 0x1A45DFA3"}),
    [](const auto& case_info) { return case_info.param.name; });

}  // namespace
}  // namespace tandrel::test
