-- The part of the IXC ERP schema that the collector reads: customers, their receivables, the
-- branches and the cities, with the column types the ERP uses and a few neighbouring columns so
-- that the tables look like the real ones. Loaded into an empty database by the tests, the demo
-- and the benchmark:
--
--     mariadb --database=ixc < ixc_schema.sql
--
-- The tables are created, never dropped: run against a real ERP, this file fails at the first
-- table instead of wiping it.
--
-- The ERP stores the zero date for registration dates it does not know, so this session must
-- accept it even where the server's default mode (MySQL 8) has NO_ZERO_DATE.
SET SESSION sql_mode = 'STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION';

CREATE TABLE cidade (
  id INT NOT NULL AUTO_INCREMENT,
  nome VARCHAR(100) NOT NULL,
  uf INT NOT NULL DEFAULT 0,
  cod_ibge VARCHAR(7) NULL,
  PRIMARY KEY (id)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_general_ci;

CREATE TABLE filial (
  id INT NOT NULL AUTO_INCREMENT,
  razao VARCHAR(150) NOT NULL,
  fantasia VARCHAR(150) NULL,
  cnpj VARCHAR(20) NOT NULL DEFAULT '',
  cidade INT NULL,
  PRIMARY KEY (id)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_general_ci;

CREATE TABLE cliente (
  id INT NOT NULL AUTO_INCREMENT,
  razao VARCHAR(150) NOT NULL,
  fantasia VARCHAR(150) NULL,
  tipo_pessoa CHAR(1) NOT NULL DEFAULT 'F',  -- 'F' person (CPF), 'J' company (CNPJ)
  cnpj_cpf VARCHAR(20) NULL DEFAULT '',  -- blank when typed in without it, NULL when never set
  ie_identidade VARCHAR(20) NULL,
  email VARCHAR(255) NULL,
  telefone_comercial VARCHAR(30) NULL,
  telefone_celular VARCHAR(30) NULL,
  ativo CHAR(1) NOT NULL DEFAULT 'S',  -- 'S' active, 'N' inactive
  data_cadastro DATE NOT NULL DEFAULT '0000-00-00',
  endereco VARCHAR(150) NULL,
  numero VARCHAR(10) NULL,
  complemento VARCHAR(100) NULL,
  bairro VARCHAR(100) NULL,
  cep VARCHAR(9) NULL,
  cidade INT NULL,
  obs TEXT NULL,
  PRIMARY KEY (id),
  KEY cliente_cidade (cidade)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_general_ci;

CREATE TABLE fn_areceber (
  id INT NOT NULL AUTO_INCREMENT,
  id_cliente INT NOT NULL,
  id_contrato INT NULL,  -- NULL for a receivable outside any contract
  filial_id INT NULL,
  documento VARCHAR(30) NULL,
  status CHAR(1) NOT NULL DEFAULT 'A',  -- 'A' open, 'R' received, 'C' cancelled
  data_emissao DATE NULL,
  data_vencimento DATE NOT NULL,
  valor DECIMAL(10, 2) NULL,
  valor_aberto DECIMAL(10, 2) NOT NULL DEFAULT 0.00,
  valor_recebido DECIMAL(10, 2) NOT NULL DEFAULT 0.00,
  obs TEXT NULL,
  PRIMARY KEY (id),
  KEY fn_areceber_cliente (id_cliente),
  KEY fn_areceber_aberto (status, data_vencimento)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4 COLLATE = utf8mb4_general_ci;
