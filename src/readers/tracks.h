// The two magnetic tracks as the read-any-card services hand them back:
// "first|second".
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace kp {

// Room of a track text the head's answer is read into: the whole answer
// (at most 512 bytes) and a NUL, so no swipe can run past it.
constexpr std::size_t kSwipeRoom = 513;
// Characters of each track that reach the joined text; real tracks are far
// shorter (at most 107 characters).
constexpr int kTrackChars = 127;
// Room that always holds the joined text and its NUL.
constexpr std::size_t kJoinedTracksRoom = 2 * kTrackChars + 2;

// Writes "first|second" with each track cut to kTrackChars characters:
// at most kJoinedTracksRoom bytes.
inline void JoinTracks(const char* track1, const char* track2, char* result) {
  const int n1 = static_cast<int>(strnlen(track1, kTrackChars));
  const int n2 = static_cast<int>(strnlen(track2, kTrackChars));
  std::snprintf(result, kJoinedTracksRoom, "%.*s|%.*s", n1, track1, n2, track2);
}

}  // namespace kp
