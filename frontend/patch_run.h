// One run of the stub from its banner to its closing line.
#pragma once

// Prints the banner and comment, checks the arguments, names and guards the output, loads the
// patch, copies the input and applies the patch, deleting the output when that fails. Every failure
// is reported on the console and ends the run here. comment_slot holds the comment, slot_size bytes.
void run_patch(int argc, char** argv, const char* comment_slot, unsigned slot_size);

// Prints the comment up to its terminator (or the slot's end), each "%%" as one '%'.
void print_comment(const char* comment_slot, unsigned slot_size);

// The closing line and the key wait that end every run.
void finish_run();
