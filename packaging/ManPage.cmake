# cmake -DCLI=korvel-cli -DOUT=korvel-cli.1.gz -DVERSION=x.y.z -P ManPage.cmake
# Writes korvel-cli's manual page: the synopsis is what `korvel-cli --help` prints.
cmake_minimum_required(VERSION 3.21)
execute_process(COMMAND ${CLI} --help OUTPUT_VARIABLE usage RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR usage STREQUAL "")
  message(FATAL_ERROR "${CLI} --help failed (${rc})")
endif()

# roff: a backslash is \e, a minus is \-, a line that starts with a dot or quote is escaped.
string(REPLACE "\\" "\\e" usage "${usage}")
string(REPLACE "-" "\\-" usage "${usage}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" usage "${usage}")
string(REGEX REPLACE "^usage: " "" usage "${usage}")

set(page [=[.TH KORVEL\-CLI 1 "" "korvel @VERSION@" "User Commands"
.SH NAME
korvel\-cli \- the Korvel Engine Monitor program without windows
.SH SYNOPSIS
.nf
@USAGE@.fi
.SH DESCRIPTION
.B korvel\-cli
runs the same code as the window program
.BR korvel :
it reads flight files (\fBdump\fR, \fBsummary\fR, \fBcsv\fR), S\-record and B\-record
programs (\fBsrec\fR, \fBbrec\fR), downloads a flight from the instrument over the serial line
(\fBcapture\fR) and burns a program into it (\fBflash\fR). What the windows would show (status
line, step and done labels, progress, message boxes) is written to standard error, one line each.
.PP
A command given alone or with a wrong option prints its own usage.
.PP
\fB\-\-port P\fR takes a device path or a port number 1 to 6 (\(lqCom n\(rq); without it the
port chosen in the window program applies.
.SH EXIT STATUS
0 success, 1 the operation failed, 2 bad usage.
.SH FILES
.TP
.I init.B
the register file \fBflash\fR sends first, in the program's own folder (the folder of the real
executable, where the example program \fIexample.S19\fR and example flights are too).
.SH NOTES
On Linux the serial port's device belongs to a group (usually \fBdialout\fR); a user who is not a
member may not open it. Add the user to that group and log in again.
.SH SEE ALSO
.BR korvel\-sim ,
the instrument simulator to try every command without an instrument:
\fBkorvel\-sim \-\-help\fR lists its options.
]=])
set(USAGE "${usage}")
string(CONFIGURE "${page}" page @ONLY)

string(REGEX REPLACE "\\.gz$" "" plain "${OUT}")
file(WRITE "${plain}" "${page}")
# -n: no name or time stamp inside, so the package is the same from one build to the next.
execute_process(COMMAND gzip -9 -n -c "${plain}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed (${rc})")
endif()
