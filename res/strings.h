#pragma once
// The string table: the texts the tool loads by identifier, and the messages
// of the data exchange.

#include <string>
#include <vector>

#include "res/resource.h"

inline constexpr int IDP_PARSE_INT = 0xF110;
inline constexpr int IDP_PARSE_INT_RANGE = 0xF111;

// The text of a string resource; empty when there is none.
std::string LoadResString(int id);

// A message with its %1, %2, ... replaced by the arguments.
std::string FormatResString(int id, const std::vector<std::string>& args);
