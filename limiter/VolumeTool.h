// Reading and setting the master volume through the volume tool.
#pragma once

#include <cstdint>

#include "framework/String.h"

// The text of text between the first startMarker and the next endMarker
// after it (to the end when endMarker is empty); "" when either is missing.
CString ExtractBetween(const CString& text, const char* startMarker, const char* endMarker);

// The percentage for a reported fraction of full scale: texts with at most
// two decimals give exactly their hundredths, longer ones truncate toward
// zero, and a text that is no number gives 0.
int32_t VolumeFromText(const CString& value);

// The commands handed to the runner, with the tool path quoted: run through
// the interpreter, or as they are where policy bars it.
CString BuildQueryCommand(const CString& toolPath);
CString BuildSetCommand(const CString& toolPath, int32_t percent);

// The master volume in percent, or -1 when the tool did not report it.
// *outputMissed, when given, tells whether the tool said that some output
// could not be read or lowered (its exit status 3): the answer then comes
// from the others, and the ceiling may not hold on that one.
int32_t GetMasterVolume(bool* outputMissed = nullptr);
// Sets the volume; the tool answers with what the device holds afterwards,
// in percent, or -1 when it gave no answer (a refused change).
int32_t SetMasterVolume(int32_t percent, bool* outputMissed = nullptr);
