#pragma once

// A component built from the window's stored description is "loading" until the window has set
// all of its properties: setters then only store values, and FinishLoading applies them once.
// Components created in code outside a FormLoadingScope are never loading.
class TComponent {
public:
    TComponent();
    virtual ~TComponent() = default;

    TComponent(const TComponent &) = delete;
    TComponent &operator=(const TComponent &) = delete;

    bool IsLoading() const { return loading_; }
    // Leaves the loading state and runs Loaded(); does nothing when not loading.
    void FinishLoading();

protected:
    // Called once when loading ends, to apply the stored properties.
    virtual void Loaded() {}
    void setLoading(bool loading) { loading_ = loading; }

private:
    bool loading_;
};

// Components constructed on this thread while a scope is alive start in the loading state.
// The window holds one around building itself from its description.
class FormLoadingScope {
public:
    FormLoadingScope();
    ~FormLoadingScope();

    FormLoadingScope(const FormLoadingScope &) = delete;
    FormLoadingScope &operator=(const FormLoadingScope &) = delete;

    static bool Active();
};
