import "common"

// The sign-in form as the program opens.
ShellScene {}
