// The node interface of the XML library and its default implementation.
//
// A document is loaded with MsXmlNode::FromFile (ms_xml_node.h); the caller
// then selects nodes with XPath queries and reads their texts. Every node an
// operation hands out is a new wrapper owned by the caller; node lists are
// shared through counted pointers. Texts given to the library are narrow text
// in the thread's ANSI code page; texts handed back are UTF-8.
//
// Nodes are not safe for concurrent use: a document and the nodes made from it
// belong to one thread at a time.
#ifndef XML_XML_NODE_H_
#define XML_XML_NODE_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "xml/counted_ptr.h"

namespace ostra {

class IXmlNode;
class IXmlElement;
class IXmlAttribute;

using XmlNodePtr = counted_ptr<IXmlNode>;
using XmlNodeVector = std::vector<XmlNodePtr>;
using XmlNodeList = counted_ptr<XmlNodeVector>;

// Node type codes, the DOM's own; kXmlNodeUnknown when the type cannot be read.
enum XmlNodeType : int32_t {
  kXmlNodeUnknown = 0,
  kXmlNodeElement = 1,
  kXmlNodeAttribute = 2,
  kXmlNodeText = 3,
  kXmlNodeCData = 4,
  kXmlNodeEntityReference = 5,
  kXmlNodeEntity = 6,
  kXmlNodeProcessingInstruction = 7,
  kXmlNodeComment = 8,
  kXmlNodeDocument = 9,
  kXmlNodeDocumentType = 10,
  kXmlNodeDocumentFragment = 11,
  kXmlNodeNotation = 12,
};

// The operations are declared in a fixed order that other modules rely on;
// the reservedN entries hold the places of operations without behaviour
// (N is the entry's place, counted from 1).
//
// Operations that take a std::string* "out" fill the caller's string (cleared
// first) and return it, or return a new string owned by the caller when out is
// null; null means the text could not be read.
class IXmlNode {
 public:
  virtual bool isNull() = 0;
  virtual bool isElement() = 0;
  virtual bool isDocument() = 0;
  virtual bool isAttribute() = 0;
  virtual int32_t getNodeType() = 0;
  virtual void setDataType(const char* dataType) = 0;
  // The node this one was made from; null for a new document or a clone.
  virtual IXmlNode* getOwner() = 0;
  // The document at the root of the chain this node was made from.
  virtual IXmlNode* getDocument() = 0;
  virtual IXmlElement* toElement() = 0;
  virtual IXmlAttribute* toAttribute() = 0;
  // Length of the node's text in UTF-16 code units.
  virtual int32_t getTextLength() = 0;
  virtual void* reserved12() = 0;
  virtual int32_t getChildCount() = 0;
  virtual void* reserved14(void* value) = 0;
  virtual std::string* getDataType(std::string* out = nullptr) = 0;
  virtual std::string* getText(std::string* out = nullptr) = 0;
  virtual void* reserved17(void* first, void* second) = 0;
  virtual HRESULT setText(const char* text) = 0;
  virtual void* reserved19(int32_t value) = 0;
  virtual void* reserved20(void* first, int32_t second, void* third) = 0;
  // The node's typed value as a new string, or null.
  virtual std::string* getTypedValue() = 0;
  virtual void reserved22(void* first, int32_t second, void* third, int32_t fourth) = 0;
  // Sets an attribute node's value; E_INVALIDARG for any other kind of node.
  virtual HRESULT setValue(const char* value) = 0;
  // The first node matching the query, as a new node, or null.
  virtual IXmlNode* selectSingleNode(const char* query) = 0;
  // Every node matching the query, in document order; never a null list. With
  // a scope the expression is "//" + scope + query, so a scope "a" and a query
  // "/b" select the "b" children of every "a" element.
  virtual XmlNodeList selectNodes(const char* query, const char* scope = nullptr) = 0;
  // The child at index (from 0) as a new node, or null.
  virtual IXmlNode* getChild(int32_t index) = 0;
  // Removes the given DOM node from its parent: 0 on success, 1 on failure.
  // Wrapper nodes are not DOM nodes, so every node of this library gives 1.
  virtual int32_t detachNode(IXmlNode* node) = 0;
  // Removes this node from its parent: 0 on success, 1 on failure.
  virtual int32_t detach() = 0;
  // A deep copy as a new node that has no owner and is its own document.
  virtual IXmlNode* cloneNode() = 0;
  virtual void* reserved30() = 0;
  // The child nodes, in document order.
  virtual XmlNodeList getChildren() = 0;
  virtual void* reserved32() = 0;
  // A second wrapper of the same node, with the same owner and document.
  virtual IXmlNode* duplicate() = 0;
  virtual std::string* getName(std::string* out = nullptr) = 0;
  // The first attribute whose value equals the text, as a new node, or null.
  virtual IXmlNode* findAttributeByValue(const char* value) = 0;
  // The named attribute's text as a new string; null when there is no such
  // attribute (an empty attribute gives an empty string).
  virtual std::string* getAttribute(const char* name) = 0;
  // Appends the child's DOM node. Throws std::runtime_error when the child is
  // null, not a node of this library or has no DOM node; any DOM failure is
  // the result.
  virtual HRESULT appendChild(IXmlNode* child) = 0;
  // Document properties (such as "SelectionLanguage"); nothing for other nodes.
  virtual void setDocumentProperty(const char* name, const char* value) = 0;
  virtual std::string* getDocumentProperty(const char* name) = 0;
  // The entries through which element and attribute views reach their node;
  // every node of this library answers itself.
  virtual IXmlNode* asNode() = 0;
  virtual IXmlNode* asElementNode() = 0;
  virtual IXmlNode* asAttributeNode() = 0;
  virtual void* reserved43(void* first, void* second) = 0;
  virtual void* reserved44(void* first, void* second) = 0;
  virtual void* reserved45(int32_t value) = 0;
  // Deletion of what the library handed out, for callers that must not mix
  // heaps; each accepts null.
  virtual void releaseNode(IXmlNode* node) = 0;
  virtual void releaseNodeList(XmlNodeVector* nodes) = 0;
  virtual void releaseNodeList(const XmlNodeVector* nodes) = 0;
  virtual void releaseString(std::string* text) = 0;
  virtual ~IXmlNode() = default;
};

// Element and attribute views. No class of this library implements them.
class IXmlElement {
 public:
  virtual ~IXmlElement() = default;
};

class IXmlAttribute {
 public:
  virtual ~IXmlAttribute() = default;
};

// Defaults shared by every node class: the owner and document links, the kind
// tests built on getNodeType, and the operations without behaviour.
class AbstractXmlNode : public virtual IXmlNode {
 public:
  AbstractXmlNode(const AbstractXmlNode&) = delete;
  AbstractXmlNode& operator=(const AbstractXmlNode&) = delete;

  bool isElement() override { return getNodeType() == kXmlNodeElement; }
  bool isDocument() override { return getNodeType() == kXmlNodeDocument; }
  bool isAttribute() override { return getNodeType() == kXmlNodeAttribute; }
  IXmlNode* getOwner() override { return owner_; }
  IXmlNode* getDocument() override { return document_; }
  IXmlElement* toElement() override;
  IXmlAttribute* toAttribute() override;
  void* reserved43(void*, void*) override { return nullptr; }
  void* reserved44(void*, void*) override { return nullptr; }
  void* reserved45(int32_t) override { return nullptr; }
  void releaseNode(IXmlNode* node) override { delete node; }
  void releaseNodeList(XmlNodeVector* nodes) override { delete nodes; }
  void releaseNodeList(const XmlNodeVector* nodes) override { delete nodes; }
  void releaseString(std::string* text) override { delete text; }

 protected:
  // A node without owner and document is its own document; without a
  // document but with an owner, the owner's document.
  AbstractXmlNode(IXmlNode* owner, IXmlNode* document);

 private:
  IXmlNode* owner_;     // not owned
  IXmlNode* document_;  // not owned
};

}  // namespace ostra

#endif  // XML_XML_NODE_H_
