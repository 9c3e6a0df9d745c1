#pragma once
// Whether a flight file holds a calibration record: its first start marker, ignoring case, is CAL
// rather than FLIGHT. Found as the bytes go by, in pieces of any size.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace korvel {

// The markers stand in a file's first line, so the search ends there.
class StartMarker {
public:
    void add(const char *bytes, std::size_t size)
    {
        if (m_found != Found::None || size == 0)
            return;
        // A marker may begin in the last bytes of the piece before.
        std::string joint = m_tail;
        joint.append(bytes, std::min(size, kCarry));
        if (scan(joint.data(), joint.size(), m_tail.size()) || scan(bytes, size, size))
            return;
        if (size >= kCarry)
            m_tail.assign(bytes + size - kCarry, kCarry);
        else
            m_tail = joint.substr(joint.size() - std::min(joint.size(), kCarry));
    }
    bool calibration() const { return m_found == Found::Calibration; }

private:
    static constexpr std::size_t kCarry = 5; // "FLIGHT" less one
    enum class Found { None, Calibration, Flight };

    // Looks for a marker beginning before `starts`; true once one is found.
    bool scan(const char *text, std::size_t size, std::size_t starts)
    {
        const auto at = [&](std::size_t i, std::string_view word) {
            if (size - i < word.size())
                return false;
            for (std::size_t k = 0; k < word.size(); ++k)
                if ((text[i + k] & ~0x20) != word[k])
                    return false;
            return true;
        };
        for (std::size_t i = 0; i < std::min(starts, size); ++i) {
            const char c = char(text[i] & ~0x20);
            if (c == 'C' && at(i, "CAL")) {
                m_found = Found::Calibration;
                return true;
            }
            if (c == 'F' && at(i, "FLIGHT")) {
                m_found = Found::Flight;
                return true;
            }
        }
        return false;
    }

    Found m_found = Found::None;
    std::string m_tail;
};

} // namespace korvel
