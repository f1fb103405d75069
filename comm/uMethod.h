#pragma once
// A bound member function: an object and one of its member functions, the form of every
// handler and event of the system. Two methods are equal when they name the same object and
// the same function; an empty method is allowed and equals every other empty one. The
// object is not owned or counted.
//
//   TMethod<void(int)> m = TMethod<void(int)>::Bind<&TListener::OnValue>(&listener);
//   auto m2 = Bind<&TListener::OnValue>(&listener);   // signature taken from the function
#include <functional>
#include <type_traits>

template <class Signature>
class TMethod;

template <class R, class... Args>
class TMethod<R(Args...)> {
 public:
  TMethod() = default;

  template <auto Function, class C>
  static TMethod Bind(C* object) {
    static_assert(std::is_member_function_pointer_v<decltype(Function)>);
    return TMethod(object, &Invoke<Function, C>);
  }

  bool IsEmpty() const { return FInvoker == nullptr; }
  explicit operator bool() const { return FInvoker != nullptr; }
  const void* Object() const { return FObject; }

  // Calling an empty method is a programming error.
  R operator()(Args... args) const {
    if (!FInvoker) throw std::bad_function_call();
    return FInvoker(FObject, std::forward<Args>(args)...);
  }

  bool operator==(const TMethod& other) const {
    return FObject == other.FObject && FInvoker == other.FInvoker;
  }

 private:
  using TInvoker = R (*)(void*, Args...);

  TMethod(void* object, TInvoker invoker) : FObject(object), FInvoker(invoker) {}

  // One instantiation per (class, function): its address stands for the function.
  template <auto Function, class C>
  static R Invoke(void* object, Args... args) {
    return (static_cast<C*>(object)->*Function)(std::forward<Args>(args)...);
  }

  void* FObject = nullptr;
  TInvoker FInvoker = nullptr;
};

namespace method_detail {
template <class F>
struct Signature;
template <class C, class R, class... Args>
struct Signature<R (C::*)(Args...)> {
  using Type = R(Args...);
};
template <class C, class R, class... Args>
struct Signature<R (C::*)(Args...) const> {
  using Type = R(Args...);
};
}  // namespace method_detail

template <auto Function, class C>
TMethod<typename method_detail::Signature<decltype(Function)>::Type> Bind(C* object) {
  return TMethod<typename method_detail::Signature<decltype(Function)>::Type>::template Bind<
      Function, C>(object);
}
