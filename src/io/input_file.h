#pragma once

#include <string>

// Refuses, with an InputError naming `path`, an input that cannot
// be read as a table: anything but a regular file (a device such as
// /dev/zero, a pipe, a folder), which the reader could not read twice and
// might never reach the end of, and a file larger than the machine's memory,
// whose table could not be held. A path that does not exist is left to the
// reader's own "file not exist:" message.
void check_input_file(const std::string& path);
