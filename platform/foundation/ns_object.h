#pragma once
// The root class of the platform's objects, and selectors, the names of the
// messages they answer. Objects are shared (the platform counts references);
// a control holds its target weakly and names the message it sends with a
// selector; an effect's push button names the message the host sends it.
#include <functional>
#include <memory>
#include <string>

class NSObject : public std::enable_shared_from_this<NSObject> {
public:
    NSObject() = default;
    NSObject(const NSObject&) = delete;
    NSObject& operator=(const NSObject&) = delete;
    virtual ~NSObject() = default;
};

// A message: a method name such as "okClicked:", and, for an action, the
// method that answers it. Any target of the method's class, or of a
// subclass, answers it. Selectors with the same name are the same selector.
class SEL {
public:
    SEL() = default;
    // A selector by its name alone ("startAnalysis"), which no target answers
    // through `send`: its receiver looks the name up itself.
    SEL(std::string name) : name_(std::move(name)) {}
    SEL(const char* name) : name_(name) {}

    template <class Target>
    SEL(std::string name, void (Target::*method)(NSObject* sender))
        : name_(std::move(name)), send_([method](NSObject& target, NSObject* sender) {
              auto* receiver = dynamic_cast<Target*>(&target);
              if (receiver == nullptr) return false;
              (receiver->*method)(sender);
              return true;
          }) {}

    const std::string& name() const { return name_; }
    explicit operator bool() const { return static_cast<bool>(send_); }

    // Sends the message to `target`; false when the target does not answer
    // it (its class has no such method) or the selector is empty.
    bool send(NSObject& target, NSObject* sender) const { return send_ && send_(target, sender); }

    friend bool operator==(const SEL& a, const SEL& b) { return a.name_ == b.name_; }

private:
    std::string name_;
    std::function<bool(NSObject&, NSObject*)> send_;
};
