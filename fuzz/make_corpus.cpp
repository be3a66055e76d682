// Writes the fuzzer's starting corpus into the folder named on the command line: one small valid picture
// of each format the program reads, and two of the hostile headers.
#include <QGuiApplication>
#include <filesystem>
#include <fstream>

#include "HostileFiles.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  QGuiApplication app(argc, argv);
  const std::filesystem::path folder(argv[1]);
  std::filesystem::create_directories(folder);
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(folder / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  };
  for (const hostile::Valid& v : hostile::ValidFiles()) write(v.name + v.extension, v.bytes);
  write("declaring.png", hostile::PngDeclaring(5000, 5000));
  write("declaring.bmp", hostile::BmpDeclaring(300, 200, 16));
  return 0;
}
