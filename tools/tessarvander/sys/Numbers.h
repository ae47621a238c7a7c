// Strict parsers for numbers inside other texts (NAME=VALUE, FROM:TO,
// WIDTHxHEIGHT): the whole text must be the number, finite and in range.
// `what` names the option or field in the message.
#pragma once

#include <string>
#include <vector>

namespace tool {

// A frame size "WIDTHxHEIGHT", both from 1 to 2^30.
struct FrameSize {
  int width = 0;
  int height = 0;
};

// A number written in decimal: a sign, digits with a point, an exponent;
// never hexadecimal, "inf" or "nan".
bool IsDecimalNumber(const std::string& text);

bool ParseFloat(const std::string& text, const std::string& what, float& value, std::string& error);
bool ParseDouble(const std::string& text, const std::string& what, double& value, std::string& error);
bool ParseSize(const std::string& text, const std::string& what, FrameSize& size, std::string& error);
// A float as the shortest decimal that reads back as the same float ("0.3",
// never "0.30000001192092896").
std::string ShortestText(float value);

// Comma-separated floats.
bool ParseFloatList(const std::string& text, const std::string& what, std::vector<float>& values,
                    std::string& error);

}  // namespace tool
