// Runs one command through the system command interpreter, or one program
// directly, hidden, and returns what it wrote to standard output and
// standard error.
#pragma once

#include <windows.h>

#include "framework/String.h"

// Room for a command line: "Cmd.exe /D /C " + quoted command + NUL.
const int kCommandLineSize = 1024;
// How much output is kept; the rest is read and dropped so that the child
// never blocks on a full pipe.
const int kMaxOutput = 64 * 1024;
// Pause between looks at the pipe, and the shorter one once an answer has
// turned out longer than one read.
const DWORD kPeekPause = 500;
const DWORD kDrainPause = 10;
// A command still running after this long is ended, with all it started.
const DWORD kCommandTimeout = 10000;
// The exit status told of a program that could not be started, or that was
// ended for running too long: what the system says of one still running.
const DWORD kNoExitStatus = STILL_ACTIVE;

// "Cmd.exe /D /C " (no AutoRun command first) followed by the command in one
// more pair of quotes, which the interpreter strips again, so that a quoted
// path inside survives. Empty when the line would not fit in kCommandLineSize
// bytes.
CString BuildCommandLine(const CString& command);

// True when policy bars the command prompt for this user (DisableCMD set in
// HKCU or HKLM). The interpreter then refuses to run the command.
bool CommandPromptBarred();

// Starts program (a full path, never searched for) with commandLine, which
// names the program again as its first word, and returns its output with
// trailing white space removed; "" when the line is longer than
// kCommandLineSize allows or the pipe or the process cannot be created.
// timeoutMs bounds the wait for the program and all it starts to finish.
// The program inherits its output pipe and its own empty input, nothing
// else. inJob false takes the way of a system without nested jobs run inside
// a job, where the program cannot have a job of its own (tests). exitStatus,
// when given, receives the program's exit status, or kNoExitStatus.
CString RunProgram(const CString& program, const CString& commandLine,
                   DWORD timeoutMs = kCommandTimeout, bool inJob = true,
                   DWORD* exitStatus = nullptr);
// The same for a command through the interpreter (BuildCommandLine); ""
// also when the interpreter's path cannot be named. The interpreter ends
// with the status of the command it ran.
CString RunCommand(const CString& command, DWORD timeoutMs = kCommandTimeout, bool inJob = true,
                   DWORD* exitStatus = nullptr);
