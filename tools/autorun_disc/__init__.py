"""The publisher's disc tool behind ./autorun-disc: makes the disc image from
a content folder (or the demo disc), signs the menu, and reads a finished
image back. One module per concern:

    cli            the command line: subcommands, options, exit codes
    make_shortcut  `make disc`: DISC_... variables to options
    prerequisites  what making a disc needs, its set-up and the two builds
    content        the publisher's folder (the demo disc's is tools/demo_disc.py)
    menu_files     the native content check of the files the menu opens
    autorun_inf    the autorun.inf a disc carries, written and read
    image_writer   the image, written by xorriso
    image_reader   the image, read back with pycdlib
    certificates   the publisher's certificate and key, read with cryptography
    signing        the menu signed and verified by osslsigncode
    authenticode   the signature inside a signed program
    pins           the disc files the menu vouches for: its pin record, read and written
    disc_build     `build`;  disc_check  `check`;  `pin` is in cli
"""
