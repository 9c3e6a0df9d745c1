#pragma once
// The markers the instrument sends around a record: it starts with "FLIGHT" or "CAL" (a calibration
// record) and ends with "END". A marker counts in any letter case and anywhere, inside a longer word
// too (LOCAL holds CAL). Which start marker decides is said here, in its two cases:
//  - a file: its first start marker, wherever it stands. The search goes on past the first line
//    until a marker is found: a captured file begins with the whole chunk that held the marker, so
//    other text and line ends may come before it. A file is a calibration record when that first
//    marker is CAL.
//  - the capture, one chunk at a time as the line delivers it: a chunk that holds FLIGHT anywhere
//    starts a flight, even after a CAL in the same chunk; one that holds CAL and no FLIGHT starts a
//    calibration. So a chunk "LOCAL ... FLIGHT" starts a flight whose file's first marker is CAL.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace korvel {

enum class RecordMarker { None, Flight, Calibration };

namespace markers {

inline constexpr std::string_view kFlight = "FLIGHT";
inline constexpr std::string_view kCalibration = "CAL";
inline constexpr std::string_view kEnd = "END";

// Whether the marker (upper case) begins at text[i], in any letter case.
inline bool At(std::string_view text, std::size_t i, std::string_view marker)
{
    if (text.size() - i < marker.size())
        return false;
    for (std::size_t k = 0; k < marker.size(); ++k)
        if ((text[i + k] & ~0x20) != marker[k]) // folds a-z onto A-Z and nothing else onto a letter
            return false;
    return true;
}

// Whether the marker stands anywhere in the text.
inline bool Holds(std::string_view text, std::string_view marker)
{
    for (std::size_t i = 0; i + marker.size() <= text.size(); ++i)
        if (At(text, i, marker))
            return true;
    return false;
}

// The start marker that begins at text[i], if any.
inline RecordMarker StartAt(std::string_view text, std::size_t i)
{
    const char c = char(text[i] & ~0x20);
    if (c == 'F' && At(text, i, kFlight))
        return RecordMarker::Flight;
    if (c == 'C' && At(text, i, kCalibration))
        return RecordMarker::Calibration;
    return RecordMarker::None;
}

} // namespace markers

// The capture's case: the record a chunk starts (FLIGHT wins within the chunk).
inline RecordMarker ChunkStartMarker(std::string_view chunk)
{
    if (markers::Holds(chunk, markers::kFlight))
        return RecordMarker::Flight;
    if (markers::Holds(chunk, markers::kCalibration))
        return RecordMarker::Calibration;
    return RecordMarker::None;
}

// The file's case: its first start marker, found as the bytes go by in pieces of any size.
class StartMarker {
public:
    void add(const char *bytes, std::size_t size)
    {
        if (m_found != RecordMarker::None || size == 0)
            return;
        // A marker may begin in the last bytes of the piece before.
        std::string joint = m_tail;
        joint.append(bytes, std::min(size, kCarry));
        if (scan(joint, m_tail.size()) || scan(std::string_view(bytes, size), size))
            return;
        if (size >= kCarry)
            m_tail.assign(bytes + size - kCarry, kCarry);
        else
            m_tail = joint.substr(joint.size() - std::min(joint.size(), kCarry));
    }
    RecordMarker first() const { return m_found; }
    bool calibration() const { return m_found == RecordMarker::Calibration; }

private:
    static constexpr std::size_t kCarry = markers::kFlight.size() - 1;

    // Looks for a marker beginning before `starts`; true once one is found.
    bool scan(std::string_view text, std::size_t starts)
    {
        for (std::size_t i = 0; i < std::min(starts, text.size()); ++i) {
            m_found = markers::StartAt(text, i);
            if (m_found != RecordMarker::None)
                return true;
        }
        return false;
    }

    RecordMarker m_found = RecordMarker::None;
    std::string m_tail;
};

} // namespace korvel
