#include "support/mkv_reader.h"

#include "support/matroska_ids.h"

namespace tandrel::test {
namespace {

// Keeps a value and refuses a second occurrence, which Matroska allows for none of
// the elements read here.
template <typename Value>
void SetOnce(std::optional<Value>& slot, Value value, const EbmlElement& element) {
  if (slot) {
    throw EbmlFormatError("element " + FormatId(element.id) + " at offset " +
                          std::to_string(element.offset) + " occurs twice in its parent");
  }
  slot = std::move(value);
}

EbmlHeaderValues ReadEbmlHeader(std::span<const std::uint8_t> file, const EbmlElement& header) {
  EbmlHeaderValues values;
  for (const EbmlElement& child : header.children) {
    switch (child.id) {
      case id::kEbmlVersion:
        values.version = ReadUnsigned(file, child);
        break;
      case id::kEbmlReadVersion:
        values.read_version = ReadUnsigned(file, child);
        break;
      case id::kEbmlMaxIdLength:
        values.max_id_length = ReadUnsigned(file, child);
        break;
      case id::kEbmlMaxSizeLength:
        values.max_size_length = ReadUnsigned(file, child);
        break;
      case id::kDocType:
        values.doc_type = ReadString(file, child);
        break;
      case id::kDocTypeVersion:
        values.doc_type_version = ReadUnsigned(file, child);
        break;
      case id::kDocTypeReadVersion:
        values.doc_type_read_version = ReadUnsigned(file, child);
        break;
      default:
        break;
    }
  }
  return values;
}

void ReadInfo(std::span<const std::uint8_t> file, const EbmlElement& info, MatroskaFile& mkv) {
  SetOnce(mkv.info_offset, info.offset, info);
  for (const EbmlElement& child : info.children) {
    if (child.id == id::kTimecodeScale) {
      SetOnce(mkv.timecode_scale, ReadUnsigned(file, child), child);
    } else if (child.id == id::kDuration) {
      SetOnce(mkv.duration, ReadFloat(file, child), child);
    }
  }
}

BlockAdditionMapping ReadBlockAdditionMapping(std::span<const std::uint8_t> file,
                                              const EbmlElement& mapping) {
  BlockAdditionMapping values;
  std::optional<std::vector<std::uint8_t>> extra_data;
  for (const EbmlElement& child : mapping.children) {
    if (child.id == id::kBlockAddIdType) {
      SetOnce(values.id_type, ReadUnsigned(file, child), child);
    } else if (child.id == id::kBlockAddIdExtraData) {
      SetOnce(extra_data, ReadBinary(file, child), child);
    }
  }
  values.id_extra_data = extra_data.value_or(std::vector<std::uint8_t>{});
  return values;
}

VideoSettings ReadVideo(std::span<const std::uint8_t> file, const EbmlElement& video) {
  VideoSettings values;
  for (const EbmlElement& child : video.children) {
    switch (child.id) {
      case id::kPixelWidth:
        SetOnce(values.pixel_width, ReadUnsigned(file, child), child);
        break;
      case id::kPixelHeight:
        SetOnce(values.pixel_height, ReadUnsigned(file, child), child);
        break;
      case id::kDisplayWidth:
        SetOnce(values.display_width, ReadUnsigned(file, child), child);
        break;
      case id::kDisplayHeight:
        SetOnce(values.display_height, ReadUnsigned(file, child), child);
        break;
      case id::kStereoMode:
        SetOnce(values.stereo_mode, ReadUnsigned(file, child), child);
        values.stereo_mode_value_offset = child.data_offset;
        break;
      default:
        break;
    }
  }
  return values;
}

TrackEntry ReadTrackEntry(std::span<const std::uint8_t> file, const EbmlElement& entry) {
  TrackEntry track;
  std::optional<std::string> codec_id;
  std::optional<std::vector<std::uint8_t>> codec_private;
  for (const EbmlElement& child : entry.children) {
    switch (child.id) {
      case id::kTrackNumber:
        SetOnce(track.track_number, ReadUnsigned(file, child), child);
        break;
      case id::kTrackUid:
        SetOnce(track.track_uid, ReadUnsigned(file, child), child);
        break;
      case id::kTrackType:
        SetOnce(track.track_type, ReadUnsigned(file, child), child);
        break;
      case id::kCodecId:
        SetOnce(codec_id, ReadString(file, child), child);
        break;
      case id::kCodecPrivate:
        SetOnce(codec_private, ReadBinary(file, child), child);
        break;
      case id::kDefaultDuration:
        SetOnce(track.default_duration, ReadUnsigned(file, child), child);
        break;
      case id::kBlockAdditionMapping:
        track.block_addition_mappings.push_back(ReadBlockAdditionMapping(file, child));
        break;
      case id::kVideo:
        SetOnce(track.video, ReadVideo(file, child), child);
        break;
      default:
        break;
    }
  }
  track.codec_id = codec_id.value_or("");
  track.codec_private = codec_private.value_or(std::vector<std::uint8_t>{});
  return track;
}

void ReadTracks(std::span<const std::uint8_t> file, const EbmlElement& tracks, MatroskaFile& mkv) {
  SetOnce(mkv.tracks_offset, tracks.offset, tracks);
  for (const EbmlElement& child : tracks.children) {
    if (child.id == id::kTrackEntry) {
      mkv.tracks.push_back(ReadTrackEntry(file, child));
    }
  }
}

// SimpleBlock data: the track number as a vint, a signed 16-bit timecode relative
// to the cluster, a flags byte, then the frame.
SimpleBlock ReadSimpleBlock(std::span<const std::uint8_t> file, const EbmlElement& element) {
  const auto data = ReadBinary(file, element);
  const Vint track = ReadVint(data, 0);
  if (data.size() < track.width + 3) {
    throw EbmlFormatError("SimpleBlock at offset " + std::to_string(element.offset) +
                          " is too short for its header");
  }
  SimpleBlock block;
  block.offset = element.offset;
  block.size_width = element.size_width;
  block.track_number = track.value;
  const auto timecode = static_cast<std::uint16_t>(data[track.width] << 8 | data[track.width + 1]);
  block.relative_timecode = static_cast<std::int16_t>(timecode);
  block.flags = data[track.width + 2];
  block.payload.assign(data.begin() + static_cast<std::ptrdiff_t>(track.width + 3), data.end());
  return block;
}

Cluster ReadCluster(std::span<const std::uint8_t> file, const EbmlElement& element) {
  Cluster cluster;
  cluster.offset = element.offset;
  cluster.size_width = element.size_width;
  for (const EbmlElement& child : element.children) {
    if (child.id == id::kTimecode) {
      SetOnce(cluster.timecode, ReadUnsigned(file, child), child);
    } else if (child.id == id::kSimpleBlock) {
      cluster.blocks.push_back(ReadSimpleBlock(file, child));
    }
  }
  return cluster;
}

void ReadSeekHead(std::span<const std::uint8_t> file, const EbmlElement& seek_head,
                  MatroskaFile& mkv) {
  SetOnce(mkv.seek_head_offset, seek_head.offset, seek_head);
  for (const EbmlElement& seek : seek_head.children) {
    if (seek.id != id::kSeek) continue;
    std::optional<std::vector<std::uint8_t>> seek_id;
    std::optional<std::uint64_t> position;
    for (const EbmlElement& child : seek.children) {
      if (child.id == id::kSeekId) {
        SetOnce(seek_id, ReadBinary(file, child), child);
      } else if (child.id == id::kSeekPosition) {
        SetOnce(position, ReadUnsigned(file, child), child);
      }
    }
    if (!seek_id || seek_id->empty() || seek_id->size() > 4 || !position) {
      throw EbmlFormatError("Seek at offset " + std::to_string(seek.offset) +
                            " lacks a SeekID of 1 to 4 bytes or a SeekPosition");
    }
    SeekEntry entry;
    for (const std::uint8_t byte : *seek_id) entry.id = entry.id << 8 | byte;
    entry.position = *position;
    mkv.seek_entries.push_back(entry);
  }
}

void ReadCues(std::span<const std::uint8_t> file, const EbmlElement& cues, MatroskaFile& mkv) {
  SetOnce(mkv.cues_offset, cues.offset, cues);
  for (const EbmlElement& point : cues.children) {
    if (point.id != id::kCuePoint) continue;
    std::optional<std::uint64_t> time;
    for (const EbmlElement& child : point.children) {
      if (child.id == id::kCueTime) SetOnce(time, ReadUnsigned(file, child), child);
    }
    for (const EbmlElement& positions : point.children) {
      if (positions.id != id::kCueTrackPositions) continue;
      CuePointEntry entry;
      entry.time = time;
      for (const EbmlElement& child : positions.children) {
        if (child.id == id::kCueTrack) {
          SetOnce(entry.track, ReadUnsigned(file, child), child);
        } else if (child.id == id::kCueClusterPosition) {
          SetOnce(entry.cluster_position, ReadUnsigned(file, child), child);
        }
      }
      mkv.cue_points.push_back(entry);
    }
  }
}

void ReadSegment(std::span<const std::uint8_t> file, const EbmlElement& segment,
                 MatroskaFile& mkv) {
  mkv.segment_offset = segment.offset;
  mkv.segment_size_width = segment.size_width;
  mkv.segment_data_offset = segment.data_offset;
  mkv.segment_size = segment.data_size;
  for (const EbmlElement& child : segment.children) {
    mkv.segment_children.push_back(child.id);
    switch (child.id) {
      case id::kSeekHead:
        ReadSeekHead(file, child, mkv);
        break;
      case id::kCues:
        ReadCues(file, child, mkv);
        break;
      case id::kInfo:
        ReadInfo(file, child, mkv);
        break;
      case id::kTracks:
        ReadTracks(file, child, mkv);
        break;
      case id::kCluster:
        mkv.clusters.push_back(ReadCluster(file, child));
        break;
      default:
        break;
    }
  }
}

}  // namespace

MatroskaFile ReadMatroska(std::span<const std::uint8_t> file) {
  const std::vector<EbmlElement> top_level = ParseEbmlElements(file);
  if (top_level.size() != 2 || top_level[0].id != id::kEbml || top_level[1].id != id::kSegment) {
    std::string found;
    for (const EbmlElement& element : top_level) {
      found += ' ';
      found += FormatId(element.id);
    }
    throw EbmlFormatError(
        "a Matroska file must hold an EBML header followed by one Segment and nothing "
        "else; its top-level elements are" +
        found);
  }
  MatroskaFile mkv;
  mkv.ebml = ReadEbmlHeader(file, top_level[0]);
  ReadSegment(file, top_level[1], mkv);
  return mkv;
}

}  // namespace tandrel::test
