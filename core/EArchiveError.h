// The ways reading an object archive can stop.
#pragma once

enum class EArchiveError {
    None,
    EndOfFile, // fewer bytes left than an element needs
    Generic,   // a text longer than 2^31 - 1 units
    BadClass,  // an unexpected object: unreadable class description or unknown class
    BadSchema, // a known class with another schema number
    BadIndex,  // a tag that names no class or object read so far
    BadKey,    // a table entry under a key other than its record's name, or under a key read before
};
