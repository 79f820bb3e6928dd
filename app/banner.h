// okrelt's banner and closing lines.
#pragma once

namespace okrelt {

// Prints the two web-site lines, for the banner and the closing prompt.
void print_web_sites();

// Prints the start-up banner, web-site lines included.
void print_banner();

}  // namespace okrelt
