// Sweep driver of the out-of-memory tests: runs one operation again and
// again, refusing allocation 1, 2, 3, ... in turn (and, in a second sweep,
// every allocation from the nth on), until a run no longer reaches the
// refused allocation. Every run must end without a crash, a leak or a thrown
// exception, with a status the operation may give when memory runs out, and
// with a last error and last result that agree with that status.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace oomt {

// The caller buffer handed to every operation.
constexpr int32_t k_dst_len = 1 << 16;
char *dst();

struct run {
    uint64_t nth = 0;
    bool sticky = false;
    int rc = 0;
    bool hit = false;
    uint64_t seen = 0;
    int64_t leaked = 0;
    bool threw = false;
    std::string out; // the caller buffer after the run
    std::string err; // klaspnet_last_error after the run
    std::string res; // klaspnet_result_json after the run
};

struct op_case {
    std::string name;
    // The operation; writes dst() when it is one of the JSON operations.
    std::function<int()> op;
    // Brings the shared state (published result, fake records) to the form
    // that one more successful run leaves; called before and after every
    // run, unarmed, so that the live-block count shows only leaks.
    std::function<void()> settle;
    // Failure codes allowed when memory runs out.
    std::vector<int> codes;
    // Messages besides those that say "out of memory" which the operation
    // gives for a memory failure (a trailing '*' matches any rest).
    std::vector<std::string> messages;
    // Whether the operation publishes a result (the JSON operations) and
    // writes dst(); the controls and set_io do not.
    bool publishes = true;
    // The published result of a success equals dst() (or is "{}").
    bool publishes_output = false;
    // A success answers exactly what a run with memory to spare answers: an
    // answer with an item, a key or a header left out is never a success.
    bool whole_output = false;
    // Further checks on every run, made after the settling.
    std::function<void(const run &)> check;
    // Checks made right after the run, before the settling (unarmed; may
    // use the library).
    std::function<void(const run &)> inspect;
    // The part of an output that two clean runs share (an output holding a
    // fresh identifier differs from run to run).
    std::function<std::string(const std::string &)> comparable = [](const std::string &s) { return s; };
    // Blocks that a run may leave allocated by design (for example a
    // transport record kept until unload); default none.
    std::function<int64_t(const run &)> kept;
};

struct summary {
    uint64_t points = 0;   // allocations of a run that meets no failure
    uint64_t runs = 0;     // runs made in both sweeps
    uint64_t degraded = 0; // successes whose output differs from the clean run
    std::map<int, uint64_t> codes;
};

// The clean run (no refusal); fails the test when it throws or leaks.
run clean(const op_case &c);
// Both sweeps with every check; prints the summary line.
summary sweep(const op_case &c);

} // namespace oomt
