#!/usr/bin/env bash
# Makes the benchmark corpus: two 1080p stereo pairs at disc bitrates, small
# (720 frames, 30 s) and large (4316 frames, 3 min), as OUTDIR/{small,large}.{264,mvc}.
#
#   bench/make_corpus.sh [OUTDIR]      (default bench/corpus)
#
# The base view is x264's encoding of ffmpeg's test pattern with noise; the
# dependent view is derived from it by derive_dependent_view.py. Pieces that
# exist are kept, so a second run only checks the pairs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
out=${1:-$here/corpus}
mkdir -p "$out"
out=$(cd "$out" && pwd)

declare -A frames=([small]=720 [large]=4316)
# Upper bound of a view's size: the 40 Mb/s VBV ceiling, in bytes per frame.
bytes_per_frame=$((40000000 * 1001 / 24000 / 8))

# Space for the missing pieces, plus one muxed pair for the check.
need=0
for size in small large; do
  view=$((frames[$size] * bytes_per_frame))
  [[ -s $out/$size.264 ]] || need=$((need + view))
  [[ -s $out/$size.mvc ]] || need=$((need + view))
done
need=$((need + 2 * frames[large] * bytes_per_frame + (256 << 20)))
need_space "$out" "$need"

need_packages ffmpeg x264 mkvtoolnix python3
build_tandrel

started=$SECONDS
for size in small large; do
  n=${frames[$size]}
  base=$out/$size.264 dep=$out/$size.mvc
  if [[ ! -s $base ]]; then
    echo "encoding $size base view ($n frames)"
    t=$SECONDS
    # The temporal noise gives every frame fresh detail, so the encoder
    # spends the whole bitrate, as on a film. Every access unit gets a
    # delimiter and picture timing; every IDR a buffering period.
    ffmpeg -nostdin -v error -f lavfi \
      -i "testsrc2=size=1920x1080:rate=24000/1001,format=yuv420p,noise=alls=20:allf=t" \
      -frames:v "$n" -f yuv4mpegpipe - |
      x264 --preset veryfast --bitrate 35000 --vbv-maxrate 40000 --vbv-bufsize 40000 \
        --level 4.1 --keyint 24 --bframes 3 --aud --nal-hrd vbr --pic-struct \
        --fps 24000/1001 --demuxer y4m -o - - 2>"$out/$size.x264.log" |
      python3 "$here/strip_user_data_sei.py" - "$base.part"
    mv "$base.part" "$base"
    echo "  $(grep -a '^encoded' "$out/$size.x264.log" | tr -d '\r' | tail -1); $((SECONDS - t)) s"
  fi
  if [[ ! -s $dep ]]; then
    echo "deriving $size dependent view"
    t=$SECONDS
    python3 "$here/derive_dependent_view.py" "$base" "$dep.part"
    mv "$dep.part" "$dep"
    echo "  $((SECONDS - t)) s"
  fi
done
echo "corpus made in $((SECONDS - started)) s"

# Check: Tandrel muxes each pair, ffprobe reads every frame's packet, and
# mkvinfo shows the stereo track.
check=$out/check.mkv
trap 'rm -f "$check"' EXIT
for size in small large; do
  "$tandrel" "$out/$size.264" "$out/$size.mvc" "$check" -y >/dev/null
  packets=$(ffprobe -v error -count_packets -select_streams v:0 \
    -show_entries stream=nb_read_packets -of default=nw=1:nk=1 "$check" | sed -n 1p)
  if [[ $packets != "${frames[$size]}" ]]; then
    echo "check failed: $size muxed to $packets blocks, not ${frames[$size]}" >&2
    exit 1
  fi
  info=$(mkvinfo "$check")
  if ! grep -q 'Codec ID: V_MPEG4/ISO/AVC' <<<"$info" || ! grep -q 'Stereo mode: 13' <<<"$info"; then
    echo "check failed: mkvinfo shows no stereo AVC track in the $size output" >&2
    exit 1
  fi
  echo "$size: $(stat -c %s "$out/$size.264") + $(stat -c %s "$out/$size.mvc") bytes," \
    "muxed to $(stat -c %s "$check") bytes, $packets frames: ok"
done
