// The program's texts carry the classic "\r\n" line breaks; Qt breaks on "\n".
#pragma once

#include <QString>

#include <string>

QString MessageText(const std::string& text);
