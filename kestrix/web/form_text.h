#pragma once

#include <string>

#include "platform/base/variant.h"

/// The texts a web page receives: a posted form read as one string, its escapes, and HTML
/// entities.
namespace kestrix::form_text {

/// Decodes a URL-escaped text, left to right: "+" is a blank, "%" and two hexadecimal digits
/// the character of that code in code page 1252, "%u" (small u) and four hexadecimal digits
/// the character of that UTF-16 code (a surrogate pair written as two escapes is one
/// character); anything else stays. A text of one character is returned as it is. An escape
/// whose digits are not hexadecimal, or that is cut off, raises with the source
/// "Kestrix.Utility.urlDecode". The result is UTF-8.
std::string urlDecode(const std::string& iString);

/// `i_sString` as text with "&lt;", "&gt;", "&amp;" and "&quot;" replaced (in this order, in
/// any case, one level only) when at least one of them occurs in small letters; otherwise
/// unchanged.
std::string HTMLDecode(const Variant& i_sString);

/// The value of a field of a form text ("a=1&DocID=42&b=2"): `i_sPattern` (the field's name
/// and "=", any case) where a field begins, the text after it up to the next "&", decoded by
/// urlDecode. Answers true when the value is not blank; "" and false when the form has no
/// such field. A value that does not decode keeps the form text in the error folder and
/// raises with the source "RetrieveElementFromRequestFormCollection".
bool RetrieveElementFromRequestFormCollection(const std::string& i_sRequestFormString,
                                              const std::string& i_sPattern, Variant& o_sPatternValue);

}  // namespace kestrix::form_text
