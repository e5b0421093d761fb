// Matroska element IDs as written, length marker included, for the tests'
// readers and checks.
#pragma once

#include <cstdint>

namespace tandrel::test::id {

constexpr std::uint32_t kEbml = 0x1A45DFA3;
constexpr std::uint32_t kEbmlVersion = 0x4286;
constexpr std::uint32_t kEbmlReadVersion = 0x42F7;
constexpr std::uint32_t kEbmlMaxIdLength = 0x42F2;
constexpr std::uint32_t kEbmlMaxSizeLength = 0x42F3;
constexpr std::uint32_t kDocType = 0x4282;
constexpr std::uint32_t kDocTypeVersion = 0x4287;
constexpr std::uint32_t kDocTypeReadVersion = 0x4285;
constexpr std::uint32_t kSegment = 0x18538067;
constexpr std::uint32_t kInfo = 0x1549A966;
constexpr std::uint32_t kTimecodeScale = 0x2AD7B1;
constexpr std::uint32_t kDuration = 0x4489;
constexpr std::uint32_t kTracks = 0x1654AE6B;
constexpr std::uint32_t kTrackEntry = 0xAE;
constexpr std::uint32_t kTrackNumber = 0xD7;
constexpr std::uint32_t kTrackUid = 0x73C5;
constexpr std::uint32_t kTrackType = 0x83;
constexpr std::uint32_t kCodecId = 0x86;
constexpr std::uint32_t kCodecPrivate = 0x63A2;
constexpr std::uint32_t kDefaultDuration = 0x23E383;
constexpr std::uint32_t kBlockAdditionMapping = 0x41E4;
constexpr std::uint32_t kBlockAddIdType = 0x41E7;
constexpr std::uint32_t kBlockAddIdExtraData = 0x41ED;
constexpr std::uint32_t kVideo = 0xE0;
constexpr std::uint32_t kPixelWidth = 0xB0;
constexpr std::uint32_t kPixelHeight = 0xBA;
constexpr std::uint32_t kDisplayWidth = 0x54B0;
constexpr std::uint32_t kDisplayHeight = 0x54BA;
constexpr std::uint32_t kStereoMode = 0x53B8;
constexpr std::uint32_t kCluster = 0x1F43B675;
constexpr std::uint32_t kTimecode = 0xE7;
constexpr std::uint32_t kSimpleBlock = 0xA3;
constexpr std::uint32_t kSeekHead = 0x114D9B74;
constexpr std::uint32_t kSeek = 0x4DBB;
constexpr std::uint32_t kSeekId = 0x53AB;
constexpr std::uint32_t kSeekPosition = 0x53AC;
constexpr std::uint32_t kCues = 0x1C53BB6B;
constexpr std::uint32_t kCuePoint = 0xBB;
constexpr std::uint32_t kCueTime = 0xB3;
constexpr std::uint32_t kCueTrackPositions = 0xB7;
constexpr std::uint32_t kCueTrack = 0xF7;
constexpr std::uint32_t kCueClusterPosition = 0xF1;
constexpr std::uint32_t kVoid = 0xEC;

}  // namespace tandrel::test::id
