// XML nodes backed by the platform's XML DOM (the "msxml2.DOMDocument" COM
// class).
//
//   std::unique_ptr<ostra::IXmlNode> doc(ostra::MsXmlNode::FromFile(path));
//   ostra::XmlNodeList items = doc->selectNodes(".//item");
//   std::unique_ptr<std::string> text((*items)[0]->getText());
//
// The first document a thread makes initialises COM for the multithreaded
// apartment on the calling thread.
#ifndef XML_MS_XML_NODE_H_
#define XML_MS_XML_NODE_H_

#include <windows.h>

#include <stdexcept>
#include <string>

#include "xml/xml_node.h"

struct IXMLDOMNode;
struct IXMLDOMDocument;

namespace ostra {

// A COM call or allocation failed in a way no result can report; hresult()
// tells which (E_OUTOFMEMORY when a text could not be allocated).
class XmlComError : public std::runtime_error {
 public:
  XmlComError(const char* what, HRESULT hr) : std::runtime_error(what), hr_(hr) {}
  HRESULT hresult() const { return hr_; }

 private:
  HRESULT hr_;
};

class MsXmlNode : public AbstractXmlNode {
 public:
  // A new document node owned by the caller: the given DOM document, or a new
  // one holding only the processing instruction
  // <?xml version="1.0" encoding="UTF-8"?>. Throws std::runtime_error when
  // the DOM is not installed or cannot be created.
  static MsXmlNode* Instantiate(IXMLDOMDocument* existing = nullptr);
  // A new document node owned by the caller, holding the file's content. The
  // path is in the ANSI code page. Throws std::runtime_error "[MsXmlNode]
  // FromFile - load failed" when the file is missing, unreadable or not
  // well-formed; nothing is left behind. The DOM resolves nothing outside
  // the file, and a document whose document type declares an entity is
  // refused before it is parsed ("[MsXmlNode] FromFile - refused: the
  // document type declares entities"), whatever the DOM would make of it.
  static MsXmlNode* FromFile(const char* path, IXMLDOMDocument* existing = nullptr);
  static MsXmlNode* FromFile(const std::string& path, IXMLDOMDocument* existing = nullptr);

  // Wraps a DOM node, taking a reference of its own. See AbstractXmlNode for
  // how owner and document default.
  MsXmlNode(IXMLDOMNode* node, IXmlNode* owner, IXmlNode* document);
  ~MsXmlNode() override;

  // The wrapped DOM node (borrowed), or null.
  IXMLDOMNode* domNode() const { return node_; }

  bool isNull() override { return false; }
  int32_t getNodeType() override;
  void setDataType(const char* dataType) override;
  int32_t getTextLength() override;
  void* reserved12() override { return nullptr; }
  int32_t getChildCount() override;
  void* reserved14(void* value) override { return value; }
  std::string* getDataType(std::string* out = nullptr) override;
  std::string* getText(std::string* out = nullptr) override;
  void* reserved17(void*, void*) override { return nullptr; }
  HRESULT setText(const char* text) override;
  void* reserved19(int32_t) override { return nullptr; }
  void* reserved20(void*, int32_t, void*) override { return nullptr; }
  std::string* getTypedValue() override;
  void reserved22(void*, int32_t, void*, int32_t) override {}
  HRESULT setValue(const char* value) override;
  IXmlNode* selectSingleNode(const char* query) override;
  XmlNodeList selectNodes(const char* query, const char* scope = nullptr) override;
  IXmlNode* getChild(int32_t index) override;
  int32_t detachNode(IXmlNode* node) override;
  int32_t detach() override;
  IXmlNode* cloneNode() override;
  void* reserved30() override { return nullptr; }
  XmlNodeList getChildren() override;
  void* reserved32() override { return nullptr; }
  IXmlNode* duplicate() override;
  std::string* getName(std::string* out = nullptr) override;
  IXmlNode* findAttributeByValue(const char* value) override;
  std::string* getAttribute(const char* name) override;
  HRESULT appendChild(IXmlNode* child) override;
  void setDocumentProperty(const char* name, const char* value) override;
  std::string* getDocumentProperty(const char* name) override;
  IXmlNode* asNode() override { return this; }
  IXmlNode* asElementNode() override { return this; }
  IXmlNode* asAttributeNode() override { return this; }

 private:
  // A new node for a DOM node this one produced; takes its own reference.
  MsXmlNode* makeChild(IXMLDOMNode* node);

  IXMLDOMNode* node_;  // one COM reference, released by the destructor
};

}  // namespace ostra

#endif  // XML_MS_XML_NODE_H_
