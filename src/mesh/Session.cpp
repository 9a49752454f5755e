// The Gmsh session: Gmsh started and stopped around each call, and its log read for errors and for
// the surfaces they concern.
#include "Gmsh.h"

#include <gmsh.h>

#include <cstdlib>
#include <iostream>

namespace nimbo::detail {

GmshSession::GmshSession(bool verbose) : verbose_(verbose) {
  gmsh::initialize(0, nullptr, false);  // no user configuration files: the same mesh everywhere
  gmsh::option::setNumber("General.Terminal", 0);
  gmsh::logger::start();
}

GmshSession::~GmshSession() {
  flush();
  gmsh::logger::stop();
  gmsh::finalize();
}

void GmshSession::flush() {
  std::vector<std::string> log;
  gmsh::logger::get(log);
  if (verbose_) {
    for (const std::string &line : log) std::cerr << "gmsh: " << line << '\n';
  }
  errors_.clear();
  failedSurfaces_.clear();
  bool summary = false;  // Gmsh closes a failed mesh with a summary, itself in error lines
  int surface = 0;       // the one Gmsh is meshing, which its errors do not always name
  for (const std::string &line : log) {
    const std::size_t meshing = line.find("Meshing surface ");
    if (meshing != std::string::npos && line.rfind("Info", 0) == 0) surface = std::atoi(line.c_str() + meshing + 16);
    if (line.find("Meshing 3D") != std::string::npos) surface = 0;
    if (line.rfind("Error", 0) != 0) continue;
    if (surface > 0 && !summary) failedSurfaces_.insert(surface);
    const std::size_t colon = line.find(": ");
    const std::string text = colon == std::string::npos ? line : line.substr(colon + 2);
    if (text.find("Mesh generation error summary") != std::string::npos) summary = true;
    if (summary || text.rfind("---", 0) == 0) continue;
    errors_.push_back(text);
  }
  // Gmsh keeps its log until asked; start afresh.
  gmsh::logger::stop();
  gmsh::logger::start();
}

}  // namespace nimbo::detail
