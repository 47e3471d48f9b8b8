#pragma once
// Where brimlet-send gets a password: a file, standard input or the terminal.
// Never the command line or the environment.
#include <cstddef>
#include <cstdio>
#include <string>

namespace brimletsend {

enum class PasswordRead { Ok, Unreadable, Mismatch, NoTerminal, NoAnswer, TooLong };

// Longer lines are no password anyone typed (--password-file /dev/zero).
constexpr size_t kMaxPasswordLength = 4096;

// The first line, without its line end (LF or CR LF); TooLong past
// kMaxPasswordLength bytes, without reading further.
PasswordRead firstLineOf(std::FILE *in, std::string &line);
PasswordRead firstLineOfFile(const std::string &path, std::string &line);

// Asks twice on the controlling terminal with echo off, as Brimlet's
// password dialog asks twice; Mismatch when the two differ, NoAnswer at the
// end of input (Ctrl-D) or an empty first answer. Echo comes back whatever
// ends the prompt: an answer, SIGINT, SIGTERM, SIGHUP, SIGQUIT (then raised
// again with the terminal as it was) or Ctrl-Z (stopped with echo on; after
// "fg" it asks again, with echo off).
PasswordRead askOnTerminal(std::string &password);

// While a password is held the process must not dump core, where anyone who
// can read the dump would find it.
void keepSecretsOutOfCoreDumps();

} // namespace brimletsend
