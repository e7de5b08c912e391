#pragma once

// The fixed table of the 47 transitions a clip can carry at its start. The index is the only
// identity of a transition: clip entries and the "TransitionName" setting store it.

#include <cstdint>
#include <optional>
#include <string>

inline constexpr int kTransitionCount = 47;

// The SMPTE wipe effect shared by the indexes 17 to 46, which differ only in "MaskNum".
inline constexpr const char* kDxtJpegClass = "{DE75D012-7A65-11D2-8CEA-00A0C9441E20}";

enum class TransitionPolicy : std::int32_t { Random = 0, Sequence = 1, Same = 2 };

struct TransitionEffect {
    std::string effectClass;  // GUID text
    bool hasMaskNum = false;
    std::int32_t maskNum = 0;
};

// The display name; "Horizontal" for any index outside 0 to 46.
std::string transitionName(int index);

// The effect for an index other than 0. An index outside 0 to 46 gives the wipe with its own
// default pattern (no "MaskNum").
TransitionEffect transitionEffect(int index);

// The transition index for the clip entry at position n under a policy. An unknown policy
// value assigns nothing (nullopt): the entry keeps what its slot held.
std::optional<int> chooseTransition(std::int32_t policy, int n, int sameTransition);

// A generator of our own rather than the C library's, so that a seed gives the same random
// transitions on every platform and tests can script them: seeded once at start-up with the
// time in seconds, it draws values from 0 to 32767.
void SeedTransitionRandom(std::uint32_t seed);
int NextTransitionRandom();
