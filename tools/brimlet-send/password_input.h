#pragma once
// Where brimlet-send gets a password: a file, standard input or the terminal.
// Never the command line or the environment.
#include <cstdio>
#include <string>

namespace brimletsend {

enum class PasswordRead { Ok, Unreadable, Mismatch, NoTerminal };

// The first line, without its line end (LF or CR LF).
PasswordRead firstLineOf(std::FILE *in, std::string &line);
PasswordRead firstLineOfFile(const std::string &path, std::string &line);
// Asks twice on the controlling terminal with echo off, as Brimlet's
// password dialog asks twice; Mismatch when the two differ.
PasswordRead askOnTerminal(std::string &password);

} // namespace brimletsend
