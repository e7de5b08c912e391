#include "clips/transition_catalogue.h"

#include <array>

namespace {

struct TransitionEntry {
    int index;
    const char* listName;
    const char* effectClass;  // GUID text; nullptr for "None"
    std::int32_t maskNum;     // meaningful for 17 to 46 only
};

constexpr std::array<TransitionEntry, kTransitionCount> kEntries = {{
    {0, "None", nullptr, 0},
    {1, "Iris", "{049F2CE6-D996-4721-897A-DB15CE9EB73D}", 0},
    {2, "RadialWipe", "{164484A9-35D9-4FB7-9FAB-48273B96AA1D}", 0},
    {3, "Fade", "{16B280C5-EE70-11D1-9066-00C04FD9189D}", 0},
    {4, "ZigZag", "{23E26328-3928-40F2-95E5-93CAD69016EB}", 0},
    {5, "RandomBars", "{2E7700B7-27C4-437F-9FBF-1E8BE2817566}", 0},
    {6, "Spiral", "{4A03DCB9-6E17-4A39-8845-4EE7DC5331A5}", 0},
    {7, "Pixelate", "{4CCEA634-FBE0-11D1-906A-00C04FD9189D}", 0},
    {8, "Wheel", "{5AE1DAE0-1461-11D2-A484-00C04F8EFB69}", 0},
    {9, "Strips", "{63A4B1FC-259A-4A5B-8129-A83B8C9E6F4F}", 0},
    {10, "Inset", "{76F363F2-7E9F-4ED7-A6A7-EE30351B6628}", 0},
    {11, "Blinds", "{9A4A4A51-FB3A-4F4B-9B57-A2912A289769}", 0},
    {12, "Wipe", "{AF279B30-86EB-11D1-81BF-0000F87557DB}", 0},
    {13, "CheckerBoard", "{B3EE7802-8224-4787-A1EA-F0DE16DEABD3}", 0},
    {14, "Slide", "{D1C5A1E7-CC47-4E32-BDD2-4B3C5FC50AF5}", 0},
    {15, "Stretch", "{F088DE73-BDD0-4E3C-81F8-6D32F4FE9D28}", 0},
    {16, "RandomDissolve", "{F7F4A1B6-8E87-452F-A2D7-3077F508DBC0}", 0},
    {17, "Horizontal", kDxtJpegClass, 1},
    {18, "Vertical", kDxtJpegClass, 2},
    {19, "Four corners", kDxtJpegClass, 7},
    {20, "Barn doors, horizontal", kDxtJpegClass, 22},
    {21, "Diagonal, NW to SE", kDxtJpegClass, 41},
    {22, "Triangles, top/bottom", kDxtJpegClass, 43},
    {23, "Triangles, left/right", kDxtJpegClass, 44},
    {24, "Diagonal stripe, SW to NE", kDxtJpegClass, 45},
    {25, "Cross", kDxtJpegClass, 47},
    {26, "Diamond Box", kDxtJpegClass, 48},
    {27, "Wedge, top", kDxtJpegClass, 61},
    {28, "Wedge, left", kDxtJpegClass, 64},
    {29, "Sawtooth, left", kDxtJpegClass, 71},
    {30, "Sawtooth, top", kDxtJpegClass, 72},
    {31, "Sawtooth, vertical", kDxtJpegClass, 73},
    {32, "Sawtooth, horizontal", kDxtJpegClass, 74},
    {33, "Box", kDxtJpegClass, 101},
    {34, "Diamond", kDxtJpegClass, 102},
    {35, "Hexagon", kDxtJpegClass, 113},
    {36, "Circle", kDxtJpegClass, 119},
    {37, "Oval, horizontal", kDxtJpegClass, 120},
    {38, "Rounded rectangle, horizontal", kDxtJpegClass, 124},
    {39, "4-point star", kDxtJpegClass, 127},
    {40, "5-point star", kDxtJpegClass, 128},
    {41, "Heart", kDxtJpegClass, 130},
    {42, "Radial, left", kDxtJpegClass, 224},
    {43, "Radial, top split", kDxtJpegClass, 231},
    {44, "Radial, top-right corner", kDxtJpegClass, 244},
    {45, "Center radial, top", kDxtJpegClass, 251},
    {46, "Matrix, horizontal", kDxtJpegClass, 301},
}};

constexpr int kFirstWipe = 17;
constexpr int kLastIndex = kTransitionCount - 1;

std::uint32_t randomState = 1;

bool inCatalogue(int index) { return index >= 0 && index <= kLastIndex; }

}  // namespace

std::string transitionName(int index) {
    return inCatalogue(index) ? kEntries[static_cast<std::size_t>(index)].listName
                              : kEntries[kFirstWipe].listName;
}

TransitionEffect transitionEffect(int index) {
    if (!inCatalogue(index) || index == 0) return {kDxtJpegClass, false, 0};
    const TransitionEntry& entry = kEntries[static_cast<std::size_t>(index)];
    return {entry.effectClass, index >= kFirstWipe, entry.maskNum};
}

std::optional<int> chooseTransition(std::int32_t policy, int n, int sameTransition) {
    switch (static_cast<TransitionPolicy>(policy)) {
        case TransitionPolicy::Random:
            return NextTransitionRandom() % kTransitionCount;
        case TransitionPolicy::Sequence: {
            int index = n;
            while (index > kLastIndex) index -= kLastIndex;
            return index;
        }
        case TransitionPolicy::Same:
            return sameTransition;
    }
    return std::nullopt;
}

void SeedTransitionRandom(std::uint32_t seed) { randomState = seed; }

int NextTransitionRandom() {
    // The C runtime's linear congruential generator, so draws span 0 to 32767 on every
    // platform rather than whatever RAND_MAX the local library has.
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int>((randomState >> 16) & 0x7FFFu);
}
