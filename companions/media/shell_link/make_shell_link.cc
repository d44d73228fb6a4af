// make_shell_link TEXT_SHORTCUT LINK: writes the Windows shell link for a
// text shortcut; a build-machine tool of the Windows setup media. Ends with
// status 1 and a line on stderr when the shortcut cannot be read, converted
// or written.
#include <fstream>
#include <iostream>
#include <iterator>

#include "shell_link/shell_link.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_shell_link TEXT_SHORTCUT LINK\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "make_shell_link: cannot read " << argv[1] << "\n";
    return 1;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  try {
    const std::string link = quillon::ShellLinkBytes(quillon::ParseShortcutText(text));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(link.data(), static_cast<std::streamsize>(link.size()));
    out.close();
    if (!out) {
      std::cerr << "make_shell_link: cannot write " << argv[2] << "\n";
      return 1;
    }
  } catch (const quillon::ShortcutError& error) {
    std::cerr << "make_shell_link: " << argv[1] << ": " << error.what() << "\n";
    return 1;
  }
  return 0;
}
