// The pieces of startUp that read the command line: the start-name split,
// the "!" start-up letters and the "@file" argument file. They change no
// process state, so they can be used (and checked) on their own.
#pragma once

#include <string>
#include <vector>

// A start name "[system:]path/program[-version]" taken apart.
struct StartName {
  std::string name;     // last path component, without "-version"
  std::string version;  // empty when the name carries none
  std::string sysName;  // text before the first ":", empty when none
};

// Splits a start name. The system part is the text before the first ":"
// when a non-empty field follows it; the version is the last "-"-field of
// the program name when it begins with a decimal digit.
StartName splitStartName(std::string const& name);

// What the leading "!" arguments asked for.
struct StartLetters {
  bool addPerm = true;                 // cleared by A or I
  bool delPerm = true;                 // cleared by D
  bool updatePerm = true;              // cleared by U
  bool msgCounts = false;              // set by M
  std::string tty;                     // given with T
  std::vector<std::string> envFiles;   // given with E (empty: the default file)
};

// Consumes the leading "!" arguments of argv (while more than one argument
// remains), moves the rest down to argv[1] and lowers argc. E and T take the
// rest of their argument or, when they end it, the next argument.
StartLetters consumeStartLetters(int& argc, char** argv);

// Removes the n words after argv[0]: moves the rest, with the terminating
// null pointer, down to argv[1] and lowers argc by n. n <= 0 changes nothing.
void dropArgs(int& argc, char** argv, int n);

// Reads an argument file into `text` and builds over it the vector
// {argv0, words..., null} in `vec`. A word is a run of non-blank characters
// or, when it begins with a double quote, the characters up to the next
// double quote (or the end of the file). Returns the new argument count, or
// -1 when the file cannot be opened, is not a regular file, is larger than
// 16 MiB, or cannot be read whole.
int readArgFile(char const* name, char* argv0, std::vector<char>& text, std::vector<char*>& vec);
