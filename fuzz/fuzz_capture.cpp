// The capture protocol fed random chunk sequences, with the capture armed anew at random points.
// Input: a length byte and that many bytes per chunk; a length byte of 0 chooses a new capture
// file. Properties: each capture file holds exactly the chunks from the one with the start marker
// through the one that ends the record, the state and the END count follow the markers, and
// "Done" is said once per completed record.
#include "core/capture/CaptureSession.h"
#include "FuzzSupport.h"

#include <memory>
#include <vector>

using namespace korvel;
using namespace korvel::fuzz;

namespace {

bool has(const QByteArray &chunk, const char *marker)
{
    return chunk.toUpper().contains(marker);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CountingUi ui;
    CaptureSession session(ui);
    std::vector<std::unique_ptr<MemoryFile>> files;
    std::vector<QByteArray> expected;
    int state = CaptureSession::Idle;
    int calEnds = 0;
    int done = 0;

    size_t pos = 0;
    while (pos < size) {
        const size_t length = data[pos++];
        if (length == 0) {
            if (files.size() >= 16)
                continue;
            files.push_back(std::make_unique<MemoryFile>());
            expected.emplace_back();
            FUZZ_CHECK(session.arm(files.back()->name()));
            state = CaptureSession::Armed;
            continue;
        }
        const QByteArray chunk(reinterpret_cast<const char *>(data + pos), qsizetype(std::min(length, size - pos)));
        pos += size_t(chunk.size());

        if (state == CaptureSession::Armed) {
            if (has(chunk, "FLIGHT")) {
                state = CaptureSession::ReceivingFlight;
            } else if (has(chunk, "CAL")) {
                state = CaptureSession::ReceivingCalibration;
                calEnds = 0;
            }
        }
        if (state == CaptureSession::ReceivingFlight || state == CaptureSession::ReceivingCalibration) {
            expected.back() += chunk;
            if (has(chunk, "END")) {
                if (state == CaptureSession::ReceivingFlight || ++calEnds > 4) {
                    state = CaptureSession::Idle;
                    ++done;
                }
            }
        }
        FUZZ_CHECK(session.receive(chunk));
        FUZZ_CHECK(session.CaptureState() == state);
        if (state == CaptureSession::ReceivingCalibration)
            FUZZ_CHECK(session.CalEndCount() == calEnds);
        FUZZ_CHECK(session.fileOpen() == (state != CaptureSession::Idle));
    }
    session.close();
    for (size_t i = 0; i < files.size(); ++i)
        FUZZ_CHECK(files[i]->contents() == expected[i]);
    // One status per arm ("Capture Data To:") and one "Done" per record.
    FUZZ_CHECK(ui.statuses == int(files.size()) + done);
    return 0;
}
