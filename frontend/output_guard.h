// The guards around the output file, run before anything is loaded or copied.
#pragma once

// 1 when path can be opened for binary reading; only regular files count, so that a folder or a
// FIFO is never opened.
int file_exists(const char* path);

// Decides whether the run may write output_name for the input argument, asking before an existing
// output is replaced and making it replaceable after a yes. Refuses when the output is the input
// (by its text or by being the same file) or the stub's own file. 1 to go on, 0 to stop the run.
int confirm_output_target(const char* input, const char* output_name, const char* stub_path);
