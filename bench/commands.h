#pragma once

// The subcommands of pictarre-bench; each takes the arguments after its name and returns the
// process exit code.
int benchSearch(int argc, char** argv);
int benchSizes(int argc, char** argv);
int benchPage(int argc, char** argv);
int benchCopy(int argc, char** argv);
