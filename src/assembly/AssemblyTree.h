// Private helpers of the assembly reader: from an XDE document or a plain shape to parts. Not installed.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <TDocStd_Document.hxx>

#include <set>
#include <string>
#include <vector>

namespace nimbo::detail {

/// The shapes a product's shape gives parts: each solid (compounds and compsolids taken apart), then
/// what it holds besides, less what a solid or a larger piece already holds, as one more piece (a
/// compound when it is several shapes). Nothing for an empty compound.
std::vector<TopoDS_Shape> partPieces(const TopoDS_Shape &shape);

/// Whether the name is one the kernel gives what a file leaves unnamed (a type word such as "SOLID",
/// an instance's label entry), which the reader takes for no name.
bool isStandInName(const std::string &name);

/// The path segments of siblings of these names: the second and later of one name get "#2", "#3",
/// ..., skipping suffixed names that siblings already have.
std::vector<std::string> siblingSegments(const std::vector<std::string> &names);

/// The parts of the document's free shapes, depth first over the assembly tree, with unique paths;
/// `fileName` names what the file leaves unnamed. Instance names in `stand_ins` are the reader's
/// stand-ins for a missing name (a STEP occurrence's id where its name is blank): such an instance
/// counts as unnamed.
std::vector<Part> partsOfDocument(const Handle(TDocStd_Document) & document, const std::string &fileName,
                                  const std::set<std::string> &stand_ins = {});

}  // namespace nimbo::detail
