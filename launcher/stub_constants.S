# Build constants of the bare stub image: the attached data is an entry stream holding
# only its end marker, as one raw-block zstd frame. talvik pack generates the same
# symbols for real images.
    .section .rdata,"dr"
    .globl talvik_path_template
    .p2align 1
talvik_path_template:
    .short 123, 67, 65, 67, 72, 69, 95, 68, 73, 82, 125, 92, 84, 97, 108, 118, 105, 107, 92, 115, 116, 117, 98, 0  # {CACHE_DIR}\Talvik\stub
    .globl talvik_company_name
    .p2align 1
talvik_company_name:
    .short 84, 97, 108, 118, 105, 107, 0  # Talvik
    .globl talvik_product_name
    .p2align 1
talvik_product_name:
    .short 84, 97, 108, 118, 105, 107, 32, 115, 116, 117, 98, 0  # Talvik stub
    .globl talvik_version_string
    .p2align 1
talvik_version_string:
    .short 48, 46, 48, 46, 48, 46, 48, 0  # 0.0.0.0
    .globl talvik_attached_data
    .p2align 4
talvik_attached_data:
    .byte 0x4b, 0x41, 0x59, 0x28, 0xb5, 0x2f, 0xfd, 0x20, 0x02, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00
talvik_attached_data_end:
    .globl talvik_attached_data_length
    .p2align 3
talvik_attached_data_length:
    .quad talvik_attached_data_end - talvik_attached_data
