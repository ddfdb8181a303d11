// Declared command-line options and their parser.
//
// A program declares its options as objects bound to its own variables
// (BoolOption, NumOption, StrOption) and hands them to an OptionParser, which
// owns them. parse() removes the options it finds from argv, handles the
// built-in long options "help", "version", "compile-info", "hide-banner" and
// "window" (short -H, -V, -W, -b), and prints the program's banner unless it
// was suppressed. Every command-line error is a fatal report that ends the
// process with a non-zero status; out-of-range numbers and style remarks are
// warnings.
//
// Help texts are shown as they stand, or, written "[KEY]", as the program
// message KEY, or, written "[KEY\tdefault]", as KEY or the default text when
// the program's catalogue lacks KEY.
#pragma once

#include <cstdint>

#include <zfound/PtrArray.h>
#include <zfound/String.h>

class wxPanel;

class Option {
public:
  Option(char letter, String const& name, String const& help);
  virtual ~Option();

  // Sets the bound variable from the command line (arg null for options
  // without arguments); negate is true for the "--no-" form.
  virtual void setValue(bool negate, char const* arg) = 0;
  // True when the option takes an argument.
  virtual bool hasArguments() const = 0;
  // The argument's name in the help text ("num", "str"; empty for none).
  virtual String argRep() const = 0;
  // Window front-end hooks; they do nothing.
  virtual void createItem(wxPanel*) = 0;
  virtual int32_t assignItem() = 0;

  // The help text resolved as described at the top of this file.
  String description() const;
  // The short form (0 for none) and the long name.
  char letter() const { return letter_; }
  String const& sequence() const { return name_; }

protected:
  char letter_;   // the one-letter form; 0 for none
  String name_;   // the long form, written after "--"
  String help_;   // help text or "[KEY]" / "[KEY\tdefault]"
};

// A switch: given sets the variable true, "--no-" form sets it false.
class BoolOption : public Option {
public:
  // Without a letter the letter is the first character of the name.
  BoolOption(bool& value, String const& name, String const& help, bool deflt = false);
  BoolOption(bool& value, String const& name, char letter, String const& help, bool deflt = false);
  ~BoolOption() override;

  void setValue(bool negate, char const* arg) override;
  bool hasArguments() const override { return false; }
  String argRep() const override { return String(); }
  void createItem(wxPanel*) override {}
  int32_t assignItem() override { return 0; }

private:
  bool& value;
};

// A number within [min, max]; a non-number is a fatal error naming the option,
// a number out of range keeps the current value with a warning.
class NumOption : public Option {
public:
  NumOption(int32_t& value, String const& name, String const& help, int32_t deflt,
            int32_t min, int32_t max);
  NumOption(int32_t& value, String const& name, char letter, String const& help, int32_t deflt,
            int32_t min, int32_t max);
  ~NumOption() override;

  void setValue(bool negate, char const* arg) override;
  bool hasArguments() const override { return true; }
  String argRep() const override { return String("num"); }
  void createItem(wxPanel*) override {}
  int32_t assignItem() override { return 0; }

private:
  int32_t& value;
  int32_t min;
  int32_t max;
};

// A text; with a list of alternatives (separated by tabs) the argument must be
// one of them or the beginning of one, and the full alternative is stored.
class StrOption : public Option {
public:
  StrOption(String& value, String const& name, String const& help, String const& deflt,
            String const& values = String());
  StrOption(String& value, String const& name, char letter, String const& help,
            String const& deflt, String const& values = String());
  StrOption(String& value, int32_t& index, String const& name, String const& help,
            String const& deflt, String const& values = String());
  StrOption(String& value, int32_t& index, String const& name, char letter, String const& help,
            String const& deflt, String const& values = String());
  ~StrOption() override;

  void setValue(bool negate, char const* arg) override;
  bool hasArguments() const override { return true; }
  String argRep() const override { return String("str"); }
  void createItem(wxPanel*) override {}
  int32_t assignItem() override { return 0; }

  // -1 for null or highest; else the position of the first alternative equal
  // to v, or failing that of the first that begins with v; else -1.
  int32_t findVal(String const& v) const;

private:
  String& value;
  int32_t& index;  // position of the chosen alternative, -1 when none
  String values;   // alternatives separated by tabs; null: any text
};

ZF_PTRARRAY(Option);

class OptionParser {
public:
  explicit OptionParser(bool showBanner = true);
  // The banner is shown; `s` is not used.
  explicit OptionParser(String const& s);
  virtual ~OptionParser();
  // Returns true.
  virtual bool execute();

  // Appends an option (the parser owns it); order of search and help.
  void addOption(Option* o);
  OptionParser& operator<<(Option* o);
  // Sets the build text shown by "--compile-info".
  void compileData(String const& s);

  // Parses the options at the front of argv (up to the first word that does
  // not begin with "-"), removes them and lowers argc. Returns 0; errors and
  // the help/version requests are fatal reports that end the process.
  int parse(int& argc, char** argv);
  // One line per option: the built-ins, then the declared options.
  String help() const;

  // Window front-end hooks.
  int32_t listBox() const { return listBox_; }
  int32_t assign();

private:
  int resolveLong(String const& name, Option*& opt) const;
  Option* findLetter(char c) const;

  bool showBanner;
  String compileData_;
  OptionPtrArray options;  // owned
  int32_t listBox_;
};
