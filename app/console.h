#ifndef CONSOLE_H
#define CONSOLE_H

// Makes the console read the tool's lines in the code page they are written in.
void use_process_code_page_on_console();

#endif
