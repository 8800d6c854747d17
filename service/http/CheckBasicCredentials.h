// The Basic credentials test of a POST: the value of an "Authorization: Basic " line, decoded
// in full whatever its length, split at its first colon into user name and password, and
// compared with the user table exactly (letter case significant in both).
#pragma once

#include "core/COrvaneSrvCore.h"

#include <string>
#include <string_view>

inline constexpr int kCredentialsOk = 0;
inline constexpr int kCredentialsWrongPassword = -1;
inline constexpr int kCredentialsNoSuchUser = -2;

// encoded: the rest of the header line after the prefix, line end included (skipped by the
// decoder). userName receives the name part. Decoded text without a colon names no user:
// userName is left empty (it may be a password) and the answer is kCredentialsNoSuchUser.
// The caller holds the directory guard.
int CheckBasicCredentials(std::string_view encoded, std::string& userName, const CUserTable& users);

// The user name part of the same value, as CheckBasicCredentials finds it: empty without a colon.
std::string BasicUserName(std::string_view encoded);
