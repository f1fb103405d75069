#pragma once
// Writing to a descriptor, shared by the trace file, the document save and the CSV recording,
// and writing a whole file (the trend's picture).
#include <string>
#include <string_view>

// Writes every byte of Bytes to Descriptor, going on after interrupted and partial writes.
// 0 when all were written, else the errno of the failure (EIO when nothing could be written).
int WriteAll(int Descriptor, std::string_view Bytes);

// Creates or empties the file at Path and writes Bytes into it. 0 when the file was written
// and closed, else the errno of the failure.
int WriteWholeFile(const std::string& Path, std::string_view Bytes);
