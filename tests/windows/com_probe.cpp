/* A plain Win32 reader of a COM port, for the Wine harness: opens the port at 19200 8N1, keeps an
 * overlapped read pending on an I/O completion port, and writes what arrives to a file until
 * nothing more comes for the given seconds. It shows that the COM port Wine maps to a
 * pseudo-terminal carries the instrument's bytes, whatever a serial library makes of them.
 *   com_probe.exe PORT OUTFILE QUIET_SECONDS
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: com_probe PORT OUTFILE QUIET_SECONDS\n");
        return 2;
    }
    char path[64];
    snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
    HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "com_probe: cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(port, &dcb)) {
        fprintf(stderr, "com_probe: cannot set 19200 8N1: error %lu\n", GetLastError());
        return 1;
    }
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0}; /* a read returns what is there */
    SetCommTimeouts(port, &timeouts);
    HANDLE completion = CreateIoCompletionPort(port, NULL, 1, 0);
    FILE *out = fopen(argv[2], "wb");
    if (!completion || !out) {
        fprintf(stderr, "com_probe: cannot start: error %lu\n", GetLastError());
        return 1;
    }
    const DWORD quietMs = (DWORD)(atoi(argv[3]) * 1000);
    static char buffer[4096];
    OVERLAPPED overlapped;
    long total = 0;
    DWORD lastByte = GetTickCount();
    for (;;) {
        memset(&overlapped, 0, sizeof overlapped);
        DWORD got = 0;
        if (!ReadFile(port, buffer, sizeof buffer, NULL, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
            fprintf(stderr, "com_probe: read failed: error %lu\n", GetLastError());
            break;
        }
        ULONG_PTR key = 0;
        LPOVERLAPPED done = NULL;
        if (!GetQueuedCompletionStatus(completion, &got, &key, &done, quietMs)) {
            if (!done) { /* quiet for long enough: the record is over */
                CancelIo(port);
                break;
            }
            fprintf(stderr, "com_probe: read failed: error %lu\n", GetLastError());
            break;
        }
        if (got == 0) {
            if (GetTickCount() - lastByte > quietMs)
                break; /* quiet for long enough: the record is over */
            Sleep(5);  /* an empty read: wait a moment, as a timer-driven reader would */
            continue;
        }
        fwrite(buffer, 1, got, out);
        total += (long)got;
        lastByte = GetTickCount();
    }
    fclose(out);
    CloseHandle(port);
    printf("%ld\n", total);
    return 0;
}
