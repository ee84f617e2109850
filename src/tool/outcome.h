// How a run of the tool ended, as the child runner reports it.
#pragma once

namespace quillnest {

struct Outcome {
    enum class Kind {
        NotStarted, // the child could not be launched at all
        Exited,     // it ended by itself; `code` is its exit status
        Signalled,  // a signal ended it; `code` is the signal's number
        Unknown,    // it ended, but how could not be learned (someone else reaped it)
    };
    Kind kind = Kind::Exited;
    int code = 0;

    bool succeeded() const { return kind == Kind::Exited && code == 0; }
    bool operator==(const Outcome&) const = default;
};

} // namespace quillnest
